// The case a match carries to its replacement when case is preserved.
// Only ASCII letters count and change: a match all in lower case, all in
// upper case, or with its first letter in upper case and the rest in
// lower case gives the replacement's letters that shape; any other match
// (mixed, or without a letter) leaves the replacement as typed. A match
// of one upper-case letter counts as a first letter in upper case.
#pragma once

#include <string>
#include <string_view>

namespace vs {

enum class CaseShape { kAsTyped, kLower, kUpper, kCapitalized };

CaseShape ShapeOf(std::string_view match);

// Appends `replacement` to `out` in `shape`.
void AppendShaped(CaseShape shape, std::string_view replacement,
                  std::string* out);

}  // namespace vs
