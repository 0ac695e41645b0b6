// Which paths of the tree a run works on, by gitignore-style globs.
//
// Paths are relative to the base folder, their names joined by '/',
// with no leading '/' ("src/main.c"). A glob is one of:
//   - a name pattern, with no '/' but perhaps a trailing one ("*.min.js",
//     "build/"): it matches the last name of a path, at any depth;
//   - a path pattern, with a '/' elsewhere ("docs/**/*.md", "/build"):
//     it matches the whole path from the base folder; a leading '/' only
//     says so.
// A trailing '/' matches folders only. Within a name, '*', '?' and
// "[...]" match as the shell's do, never across a '/', and '*' matches a
// leading '.' too; '\' takes the next character as it is. A "**" name
// matches any number of folders: "**/x" is x at any depth, "a/**/b" is b
// anywhere below a, and "a/**" is everything below a, which is the same
// as the folder "a/" and is held as that.
//
// A path matched by an exclude glob is left out, a folder with all it
// holds. With include globs, only files that one matches, or that lie
// below a folder one matches, are worked on; folders are walked all the
// same. Exclude wins over include.
//
// A PathFilter is a value; its const calls may run on many threads.
#pragma once

#include <string>
#include <vector>

namespace vs {

class PathFilter {
 public:
  // Each adds `glob`, or returns false with `*error` saying, in one line
  // that quotes it, why it is not a glob (and adds nothing).
  bool Exclude(const std::string& glob, std::string* error);
  bool Include(const std::string& glob, std::string* error);

  // No globs at all: every path is taken.
  bool empty() const { return excludes_.empty() && includes_.empty(); }
  bool has_includes() const { return !includes_.empty(); }

  // Whether an exclude (include) glob matches the entry `path` itself,
  // which is a folder when `folder` is set. Its folders are not looked at:
  // the walk has looked at each of them already.
  bool Excludes(const std::string& path, bool folder) const;
  bool Includes(const std::string& path, bool folder) const;

  // The whole rule for the file `path`, its folders included: true when a
  // run works on it.
  bool TakesFile(const std::string& path) const;

 private:
  struct Glob {
    std::vector<std::string> names;  // split at '/'; "**" for any folders
    bool whole_path;                 // false: matches the last name only
    bool folders_only;
  };

  static bool Compile(const std::string& text, Glob* glob, std::string* error);
  static bool AnyMatches(const std::vector<Glob>& globs,
                         const std::string& path, bool folder);

  std::vector<Glob> excludes_;
  std::vector<Glob> includes_;
};

}  // namespace vs
