#include "cli/ignore_patterns.h"

#include <fnmatch.h>
#include <locale.h>

#include <algorithm>
#include <cstring>

namespace vs {
namespace {

constexpr char kAnyFolders[] = "**";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// Drops trailing spaces that no '\' escapes.
void TrimTrailingSpaces(std::string* line) {
  std::size_t keep = 0;  // bytes up to the last that is no loose space
  for (std::size_t i = 0; i < line->size(); ++i) {
    if ((*line)[i] == ' ') continue;
    if ((*line)[i] == '\\' && ++i == line->size()) return;
    keep = i + 1;
  }
  line->resize(keep);
}

bool HasGlobCharacters(std::string_view name) {
  return name.find_first_of("*?[\\") != std::string_view::npos;
}

bool EndsWith(const char* name, std::size_t length, const std::string& end) {
  return length >= end.size() &&
         std::memcmp(name + length - end.size(), end.data(), end.size()) == 0;
}

// Git matches names as bytes: '?' is one byte, and letters fold only
// from A to Z. fnmatch does so in the C locale; in a UTF-8 one it would
// match characters instead (and spend most of its time converting to
// them). Holds the C locale for this thread while it lives.
class CLocaleHere {
 public:
  CLocaleHere() : previous_(uselocale(CLocale())) {}
  ~CLocaleHere() { uselocale(previous_); }
  CLocaleHere(const CLocaleHere&) = delete;
  CLocaleHere& operator=(const CLocaleHere&) = delete;

 private:
  static locale_t CLocale() {
    static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", nullptr);
    return c_locale;
  }
  const locale_t previous_;
};

}  // namespace

IgnorePatterns IgnorePatterns::Parse(std::string_view text, bool ignore_case) {
  IgnorePatterns patterns;
  patterns.fnmatch_flags_ = ignore_case ? FNM_CASEFOLD : 0;
  if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark)
    text.remove_prefix(kByteOrderMark.size());
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    Pattern pattern;
    if (Add(std::string(line), ignore_case, &pattern))
      patterns.patterns_.push_back(std::move(pattern));
  }
  return patterns;
}

bool IgnorePatterns::Add(std::string line, bool ignore_case, Pattern* pattern) {
  if (line.empty() || line.front() == '#') return false;
  TrimTrailingSpaces(&line);
  std::string_view body = line;
  pattern->negated = !body.empty() && body.front() == '!';
  if (pattern->negated) body.remove_prefix(1);
  pattern->folders_only = !body.empty() && body.back() == '/';
  if (pattern->folders_only) body.remove_suffix(1);
  pattern->whole_path = body.find('/') != std::string_view::npos;
  if (!body.empty() && body.front() == '/') body.remove_prefix(1);
  if (body.empty()) return false;  // matches nothing
  for (std::size_t start = 0; start <= body.size();) {
    std::size_t slash = body.find('/', start);
    if (slash == std::string_view::npos) slash = body.size();
    pattern->names.emplace_back(body.substr(start, slash - start));
    start = slash + 1;
  }
  // Most name patterns are a plain name or "*" and a plain ending
  // ("*.o"): compared without fnmatch, which is the bulk of the cost.
  const std::string& name = pattern->names.front();
  if (pattern->whole_path || ignore_case) return true;
  if (!HasGlobCharacters(name)) {
    pattern->shape = Pattern::Shape::kLiteral;
    pattern->literal = name;
  } else if (name.size() > 1 && name[0] == '*' &&
             !HasGlobCharacters(std::string_view(name).substr(1))) {
    pattern->shape = Pattern::Shape::kSuffix;
    pattern->literal = name.substr(1);
  }
  return true;
}

bool IgnorePatterns::NameMatches(const Pattern& pattern, const char* name,
                                 std::size_t length) const {
  switch (pattern.shape) {
    case Pattern::Shape::kLiteral:
      return length == pattern.literal.size() &&
             std::memcmp(name, pattern.literal.data(), length) == 0;
    case Pattern::Shape::kSuffix:
      return EndsWith(name, length, pattern.literal);
    case Pattern::Shape::kGlob:
      break;
  }
  return fnmatch(pattern.names.front().c_str(), name, fnmatch_flags_) == 0;
}

bool IgnorePatterns::NamesMatch(const Pattern& pattern, std::size_t n,
                                const std::vector<const char*>& path,
                                std::size_t p) const {
  const std::vector<std::string>& names = pattern.names;
  for (; n < names.size(); ++n, ++p) {
    if (names[n] == kAnyFolders) {
      // A last "**" is everything below, not the folder itself.
      const std::size_t least = n + 1 == names.size() ? p + 1 : p;
      for (std::size_t rest = least; rest <= path.size(); ++rest) {
        if (NamesMatch(pattern, n + 1, path, rest)) return true;
      }
      return false;
    }
    if (p == path.size() ||
        fnmatch(names[n].c_str(), path[p], fnmatch_flags_) != 0)
      return false;
  }
  return p == path.size();
}

IgnorePatterns::Verdict IgnorePatterns::Match(const std::string& path,
                                              std::size_t start,
                                              bool folder) const {
  const std::size_t last_slash = path.rfind('/');
  const std::size_t name_start =
      last_slash == std::string::npos || last_slash < start ? start
                                                            : last_slash + 1;
  const char* name = path.c_str() + name_start;
  const std::size_t name_length = path.size() - name_start;
  // Split only when a whole-path pattern needs it: each name ends in a
  // NUL of its own, where fnmatch wants it.
  std::string split;
  std::vector<const char*> names;
  const CLocaleHere c_locale;
  for (auto it = patterns_.rbegin(); it != patterns_.rend(); ++it) {
    const Pattern& pattern = *it;
    if (pattern.folders_only && !folder) continue;
    bool matches;
    if (!pattern.whole_path) {
      matches = NameMatches(pattern, name, name_length);
    } else {
      if (names.empty()) {
        split = path.substr(start);
        names.push_back(split.c_str());
        for (char& c : split) {
          if (c != '/') continue;
          c = '\0';
          names.push_back(&c + 1);
        }
      }
      matches = NamesMatch(pattern, 0, names, 0);
    }
    if (matches) return pattern.negated ? Verdict::kKept : Verdict::kIgnored;
  }
  return Verdict::kNone;
}

}  // namespace vs
