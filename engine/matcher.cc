#include "engine/matcher.h"

#include <string.h>

namespace vs {

Matcher::Matcher(std::string_view find, const CodePage& code_page)
    : find_(NeverMatches(find) ? std::string_view() : find),
      code_page_(code_page),
      search_(find_) {}

std::size_t Matcher::Find(std::string_view text, std::size_t from,
                          std::size_t* boundary) const {
  if (find_.empty()) return npos;
  while (from < text.size() && text.size() - from >= find_.size()) {
    const char* hit = search_.Find(text.data() + from, text.size() - from);
    if (!hit) return npos;
    std::size_t at = static_cast<std::size_t>(hit - text.data());
    if (!code_page_.double_byte()) return at;
    AdvanceBoundary(text, at, boundary);
    if (*boundary == at) return at;
    // The hit starts on the second byte of a character; look again from
    // the next character.
    from = *boundary;
  }
  return npos;
}

void Matcher::AdvanceBoundary(std::string_view text, std::size_t position,
                              std::size_t* boundary) const {
  std::size_t b = *boundary;
  if (b < position) {
    // A line feed is never part of a character, so it is a sure place to
    // start counting from.
    const void* lf = memrchr(text.data() + b, '\n', position - b);
    if (lf) b = static_cast<const char*>(lf) - text.data() + 1;
  }
  while (b < position) b += code_page_.IsLeadByte(text[b]) ? 2 : 1;
  *boundary = b;
}

}  // namespace vs
