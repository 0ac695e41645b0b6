// The rules for the names the engine gives files.
#pragma once

#include <string>

namespace vs {

// The name of the temporary file that holds `name`'s new text on its
// `attempt`th try (from 0): "NAME.tmp", then "NAME.1.tmp", "NAME.2.tmp",
// ..., with NAME cut where the whole would be longer than a name may be.
std::string TemporaryName(const std::string& name, int attempt);

// Why `name` cannot be a file's new name, or "" when it can: empty, ".",
// "..", holding "/", or longer than a name may be.
std::string RefusalOf(const std::string& name);

}  // namespace vs
