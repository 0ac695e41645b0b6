// The find text as a plain text, with ASCII letters in either case and/or
// only as a whole word, in a single-byte or a double-byte code page (UTF-8
// goes to RegexPattern, which knows Unicode). In a double-byte code page a
// match starts only where a character starts, a byte after a lead byte is
// never folded, and a whole word never ends inside a character.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "engine/byte_search.h"
#include "engine/code_page.h"
#include "engine/fold_search.h"
#include "engine/line_pattern.h"

namespace vs {

class FoldedLiteral : public LinePattern {
 public:
  // `find` must not be empty.
  FoldedLiteral(std::string find, std::string replace, const MatchModes& modes,
                const CodePage& code_page);

  std::size_t Candidate(std::string_view text, std::size_t from,
                        CandidateCache* cache) const override;
  bool Find(std::string_view line, std::size_t from,
            MatchState* state) const override;

 protected:
  void Expand(std::string_view line, const MatchState& state,
              std::string* out) const override;

 private:
  const char* Search(const char* text, std::size_t length) const;
  bool EqualAt(std::string_view line, std::size_t at) const;
  bool WholeWordAt(std::string_view line, std::size_t at,
                   const MatchState& state) const;
  // Moves the state's boundary to the first character start at or after
  // `position`, keeping the start of the character before it.
  void Walk(std::string_view line, std::size_t position,
            MatchState* state) const;

  const std::string find_, replace_;
  const bool ignore_case_, whole_word_;
  const CodePage code_page_;
  // Per byte of the find text: whether it is an ASCII letter standing as
  // a character of its own, which matches in either case.
  std::string foldable_;
  // Whether the find text ends in a lead byte, so that a match ends inside
  // a character.
  bool ends_in_character_ = false;
  std::unique_ptr<FoldSearch> fold_search_;
  std::unique_ptr<ByteSearch> byte_search_;
};

// A word character outside UTF-8: an ASCII letter, digit or '_'.
inline bool IsAsciiWordByte(unsigned char c) {
  return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') ||
         c == '_';
}

}  // namespace vs
