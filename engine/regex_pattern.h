// A regular expression matched within a line, by RE2: time linear in the
// line whatever the pattern. Also the way of a plain find text with a
// match mode in UTF-8, where case folds by Unicode's rules and Unicode
// letters are word characters: the text is quoted into a pattern.
//
// Lines are UTF-8 in the UTF-8 code page and Latin-1 (a byte a character)
// in a single-byte one; double-byte code pages are not for it. A match of
// no character at all is skipped: the search goes on a character later,
// so `x*` replaces runs of one x or more and `^` replaces nothing.
// As a whole word, a match must have a non-word character or a line's
// end on either side of it; in UTF-8 a byte that is no valid UTF-8 is a
// word character (most likely a letter of another charset).
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/byte_search.h"
#include "engine/code_page.h"
#include "engine/fold_search.h"
#include "engine/line_pattern.h"

namespace re2 {
class RE2;
}

namespace vs {

class RegexPattern : public LinePattern {
 public:
  // With modes.regex, `find` is a pattern and `replace` a template where
  // $N and ${N} stand for group N, ${name} for a named group and $$ for a
  // dollar; else both are plain texts. On failure returns null and says
  // why in `*error`.
  static std::unique_ptr<RegexPattern> Make(const std::string& find,
                                            const std::string& replace,
                                            const MatchModes& modes,
                                            const CodePage& code_page,
                                            std::string* error);
  ~RegexPattern() override;

  std::size_t Candidate(std::string_view text, std::size_t from,
                        CandidateCache* cache) const override;
  bool Find(std::string_view line, std::size_t from,
            MatchState* state) const override;

 protected:
  void Expand(std::string_view line, const MatchState& state,
              std::string* out) const override;

 private:
  // A piece of the replacement: a text, or a group's match.
  struct Piece {
    std::string text;
    int group = -1;  // >= 0: the group of that number in the compiled form
  };
  // How the candidates in a block are found.
  enum class Prefilter {
    kBytes,       // the plain find text, byte for byte
    kFolded,      // the plain ASCII find text, ASCII letters in any case
    kBlockRegex,  // the pattern over whole lines at once
    kEveryLine,   // none: every line is a candidate
  };

  RegexPattern(const MatchModes& modes, const CodePage& code_page);
  bool ParseTemplate(const std::string& replace, std::string* error);
  std::size_t CharacterLength(std::string_view line, std::size_t at) const;
  std::size_t CharacterStartBefore(std::string_view line,
                                   std::size_t at) const;

  const bool utf8_;
  std::unique_ptr<re2::RE2> line_re_;   // one line's text is the whole text
  // As a whole word, the form for a search from past the line's start.
  std::unique_ptr<re2::RE2> inner_re_;
  std::unique_ptr<re2::RE2> block_re_;  // lines in a row, ^ $ at each line
  // Group of the match in line_re_: 1 when the pattern is wrapped in
  // the tests of a whole word, else 0.
  int match_group_ = 0;
  std::vector<Piece> pieces_;
  Prefilter prefilter_ = Prefilter::kEveryLine;
  std::unique_ptr<FoldSearch> fold_search_;
  std::unique_ptr<ByteSearch> byte_search_;
  std::string plain_find_;  // what byte_search_ looks for
  // In UTF-8, the KELVIN SIGN and LATIN SMALL LETTER LONG S fold to the
  // ASCII k and s: a folded search for a text holding those letters also
  // takes every line holding one of these as a candidate.
  bool special_letters_ = false;
};

}  // namespace vs
