// What a run matches when a match mode is on (see MatchModes): a pattern
// matched within one line at a time, with a replacement worked out for
// each match. A run with no mode on never makes one: it takes the literal
// way of Matcher and TextRewriter, unchanged.
//
// A pattern is made once per run and shared by the threads of the run:
// its calls are const, and what a search keeps between calls lives in the
// caller's MatchState and CandidateCache.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/code_page.h"
#include "engine/run_settings.h"

namespace vs {

// One match and what a search keeps between calls on the same line.
struct MatchState {
  std::size_t begin = 0, end = 0;  // the match: line[begin, end)
  // The groups of a regular expression, group 0 the whole match; a group
  // that took no part is a null view.
  std::vector<std::string_view> groups;
  // In a double-byte code page: a character start at or before the
  // search's position, and the start of the character before it (npos at
  // the line's start). A search from position 0 resets them.
  std::size_t boundary = 0, before = std::string_view::npos;
};

// What a search for candidates keeps between calls over the same text.
struct CandidateCache {
  std::size_t next_special = 0;  // see RegexPattern
  bool known = false;
  void Forget() { known = false; }
};

class LinePattern {
 public:
  static constexpr std::size_t npos = std::string_view::npos;

  explicit LinePattern(bool preserve_case) : preserve_case_(preserve_case) {}
  virtual ~LinePattern() = default;
  LinePattern(const LinePattern&) = delete;
  LinePattern& operator=(const LinePattern&) = delete;

  // `text` holds whole lines from `from` on (each but perhaps the last
  // ending with an LF). Returns a position at or after `from` in a line
  // that may hold a match; npos when no line from `from` on holds one.
  // The line of the position returned comes first of all lines that
  // hold one. It is quick: it looks at the bytes a block at a time.
  virtual std::size_t Candidate(std::string_view text, std::size_t from,
                                CandidateCache* cache) const = 0;

  // The first match in `line` that begins at or after `from`, in
  // `state`; false when there is none. `line` is one line's text without
  // its line end (or a file name); matches never hold no byte at all.
  // Searches of one line go from 0 on, each from the end of the last.
  virtual bool Find(std::string_view line, std::size_t from,
                    MatchState* state) const = 0;

  // Appends to `out` the replacement of the match `state` holds in `line`.
  void AppendReplacement(std::string_view line, const MatchState& state,
                         std::string* out) const;

 protected:
  // The replacement as the settings give it, before its case is shaped.
  virtual void Expand(std::string_view line, const MatchState& state,
                      std::string* out) const = 0;

 private:
  const bool preserve_case_;
};

// Appends `line` to `out` with every match replaced, left to right.
// Returns whether that changed the line.
bool ReplaceInLine(const LinePattern& pattern, std::string_view line,
                   MatchState* state, std::string* out);

// How a run matches its settings' find text: on the literal way, with
// `find` and `replace` (a regular expression without a metacharacter
// becomes its text), or with `pattern`.
struct MatchPlan {
  std::string find, replace;
  std::unique_ptr<const LinePattern> pattern;  // null: the literal way
  // Not empty: the settings cannot be run, and this says why in a
  // sentence (a regular expression that does not compile, a replacement
  // that names a group the pattern lacks, ...). Nothing matches then.
  std::string error;
};

MatchPlan PlanMatching(const std::string& find, const std::string& replace,
                       const MatchModes& modes, const CodePage& code_page);

// Why a run of `settings` cannot go, or "" when it can.
std::string MatchingError(const RunSettings& settings);

}  // namespace vs
