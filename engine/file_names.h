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

// Whether `name` is one that version control keeps its own files under:
// ".git", ".hg", ".svn", ".bzr", "_darcs" or "CVS". Cheap enough to ask of
// every name of a tree.
bool IsVersionControlName(const std::string& name);

// Whether a run leaves the listed entry `name` alone as version control's
// own: a folder of such a name, and anything named ".git" (in a worktree
// or a submodule, a file that links to the repository).
bool IsVersionControlEntry(const std::string& name, bool folder);

}  // namespace vs
