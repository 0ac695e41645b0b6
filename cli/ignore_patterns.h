// The patterns of one ignore file (a .gitignore, a repository's
// info/exclude, the user's excludes file) as git reads them, matched with
// fnmatch one name at a time.
//
// A line is a pattern unless it is empty or starts with '#'; a CR before
// the line's end and trailing spaces not escaped by '\' are dropped, and
// a UTF-8 byte order mark before the first line. A leading '!' keeps what
// an earlier pattern (or an ignore file with less say) ignores; '\' takes
// the next character as it is ("\#", "\!", "\ "). A trailing '/' matches
// folders only. A pattern with no other '/' matches the last name of a
// path at any depth; one with a '/' matches the whole path from the ignore
// file's folder, a leading '/' only saying so. '*', '?' and "[...]" match
// within one name ('*' a leading '.' too), byte by byte whatever the
// locale, as git matches; a "**" name matches any number of folders
// ("**/x", "a/**/b"), and a trailing "/**" everything below.
//
// A value; its const calls may run on many threads.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vs {

class IgnorePatterns {
 public:
  enum class Verdict { kNone, kIgnored, kKept };

  // The patterns of the ignore file whose bytes are `text`; with
  // `ignore_case`, letters match either case.
  static IgnorePatterns Parse(std::string_view text, bool ignore_case);

  bool empty() const { return patterns_.empty(); }

  // What the last pattern that matches a path says of it: the path is
  // `path` from its byte `start` on, relative to the ignore file's folder,
  // its names joined by '/', and a folder when `folder` is set. kNone
  // when no pattern matches.
  Verdict Match(const std::string& path, std::size_t start, bool folder) const;

 private:
  struct Pattern {
    std::vector<std::string> names;  // split at '/'; "**" for any folders
    bool whole_path = false;         // false: matches the last name only
    bool folders_only = false;
    bool negated = false;
    // What a name pattern asks, when fnmatch is not needed for it.
    enum class Shape { kGlob, kLiteral, kSuffix } shape = Shape::kGlob;
    std::string literal;  // kLiteral: the name; kSuffix: what it ends in
  };

  static bool Add(std::string line, bool ignore_case, Pattern* pattern);
  // Whether the name `name` (NUL-terminated) matches `pattern`'s only
  // name.
  bool NameMatches(const Pattern& pattern, const char* name,
                   std::size_t length) const;
  // Whether names[n...] of `pattern` match the path names path[p...].
  bool NamesMatch(const Pattern& pattern, std::size_t n,
                  const std::vector<const char*>& path, std::size_t p) const;

  std::vector<Pattern> patterns_;
  int fnmatch_flags_ = 0;
};

}  // namespace vs
