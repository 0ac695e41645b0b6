#include "engine/folded_literal.h"

namespace vs {

FoldedLiteral::FoldedLiteral(std::string find, std::string replace,
                             const MatchModes& modes,
                             const CodePage& code_page)
    : LinePattern(modes.preserve_case && modes.ignore_case),
      find_(std::move(find)),
      replace_(std::move(replace)),
      ignore_case_(modes.ignore_case),
      whole_word_(modes.whole_word),
      code_page_(code_page) {
  foldable_.assign(find_.size(), 0);
  std::size_t i = 0;
  while (i < find_.size()) {
    const unsigned char c = static_cast<unsigned char>(find_[i]);
    if (code_page_.double_byte() && code_page_.IsLeadByte(c)) {
      i += 2;
      continue;
    }
    foldable_[i] = ignore_case_ && ((c | 0x20) >= 'a' && (c | 0x20) <= 'z');
    ++i;
  }
  ends_in_character_ = i > find_.size();
  if (ignore_case_)
    fold_search_ = std::make_unique<FoldSearch>(find_);
  else
    byte_search_ = std::make_unique<ByteSearch>(find_);
}

const char* FoldedLiteral::Search(const char* text, std::size_t length) const {
  return fold_search_ ? fold_search_->Find(text, length)
                      : byte_search_->Find(text, length);
}

std::size_t FoldedLiteral::Candidate(std::string_view text, std::size_t from,
                                     CandidateCache*) const {
  if (from >= text.size()) return npos;
  const char* hit = Search(text.data() + from, text.size() - from);
  return hit ? static_cast<std::size_t>(hit - text.data()) : npos;
}

bool FoldedLiteral::EqualAt(std::string_view line, std::size_t at) const {
  for (std::size_t i = 0; i < find_.size(); ++i) {
    const char c = line[at + i];
    if (foldable_[i] ? FoldSearch::Lower(c) != FoldSearch::Lower(find_[i])
                     : c != find_[i])
      return false;
  }
  return true;
}

void FoldedLiteral::Walk(std::string_view line, std::size_t position,
                         MatchState* state) const {
  std::size_t b = state->boundary, before = state->before;
  while (b < position) {
    before = b;
    b += code_page_.IsLeadByte(static_cast<unsigned char>(line[b])) ? 2 : 1;
  }
  state->boundary = b;
  state->before = before;
}

bool FoldedLiteral::WholeWordAt(std::string_view line, std::size_t at,
                                const MatchState& state) const {
  const std::size_t end = at + find_.size();
  if (!code_page_.double_byte()) {
    return (at == 0 ||
            !IsAsciiWordByte(static_cast<unsigned char>(line[at - 1]))) &&
           (end == line.size() ||
            !IsAsciiWordByte(static_cast<unsigned char>(line[end])));
  }
  // A double-byte character is no word character; a byte standing alone
  // is one when it is an ASCII letter, digit or '_'.
  // A find text that ends in a lead byte ends a word only at the line's
  // end, where that byte is a character of its own.
  if (ends_in_character_ && end < line.size()) return false;
  auto is_word = [&](std::size_t start) {
    const unsigned char c = static_cast<unsigned char>(line[start]);
    return !code_page_.IsLeadByte(c) && IsAsciiWordByte(c);
  };
  return (state.before == npos || !is_word(state.before)) &&
         (end == line.size() || !is_word(end));
}

bool FoldedLiteral::Find(std::string_view line, std::size_t from,
                         MatchState* state) const {
  if (from == 0) {
    state->boundary = 0;
    state->before = npos;
  }
  const std::size_t n = find_.size();
  while (from < line.size() && line.size() - from >= n) {
    const char* hit = Search(line.data() + from, line.size() - from);
    if (!hit) return false;
    const std::size_t at = static_cast<std::size_t>(hit - line.data());
    std::size_t next = at + 1;
    if (code_page_.double_byte()) {
      Walk(line, at, state);
      if (state->boundary != at) {
        from = state->boundary;  // inside a character: on to the next
        continue;
      }
      next = at + (code_page_.IsLeadByte(static_cast<unsigned char>(line[at]))
                       ? 2
                       : 1);
    }
    if (EqualAt(line, at) && (!whole_word_ || WholeWordAt(line, at, *state))) {
      state->begin = at;
      state->end = at + n;
      // The match's last byte may be a lead byte whose second byte lies
      // past it: the next search counts characters from the match's start.
      return true;
    }
    from = next;
  }
  return false;
}

void FoldedLiteral::Expand(std::string_view, const MatchState&,
                           std::string* out) const {
  out->append(replace_);
}

}  // namespace vs
