// The rules for the names the engine gives files.
#pragma once

#include <string>

namespace vs {

// The name of the temporary file that holds `name`'s new text on its
// `attempt`th try (from 0): ".vellumshaper-NAME.tmp", then
// ".vellumshaper-NAME.1.tmp", ..., with NAME cut where the whole would be
// longer than a name may be. Every such name is a temporary name.
std::string TemporaryName(const std::string& name, int attempt);

// Whether `name` is of the form temporary files are given, which no walk
// lists and no file is renamed to: no run, not even one that runs at the
// same time, ever takes another's temporary file for a file of the tree,
// and none blocks a rename. Cheap enough to ask of every name of a tree.
bool IsTemporaryName(const std::string& name);

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
