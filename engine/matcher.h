// Finds the find text in a line, left to right, on character boundaries.
#pragma once

#include <cstddef>
#include <string_view>

#include "engine/byte_search.h"
#include "engine/code_page.h"

namespace vs {

class Matcher {
 public:
  static constexpr std::size_t npos = std::string_view::npos;

  // `find` must outlive the matcher. A find text that is empty or holds a
  // line feed never matches: lines are cut at line feeds before matching.
  Matcher(std::string_view find, const CodePage& code_page);

  // Whether a matcher for `find` would never match.
  static bool NeverMatches(std::string_view find) {
    return find.empty() || find.find('\n') != std::string_view::npos;
  }

  bool never_matches() const { return find_.empty(); }
  std::string_view find() const { return find_; }
  std::size_t length() const { return find_.size(); }

  // The first occurrence in text[from, text.size()) that starts on a
  // character boundary, or npos. `*boundary` is a position known to
  // start a character (a line start, or the start of an earlier
  // occurrence), with *boundary <= from; it is moved forward as the
  // search learns later boundaries, and is meaningless in a single-byte
  // code page. Characters start afresh after every line feed in `text`.
  std::size_t Find(std::string_view text, std::size_t from,
                   std::size_t* boundary) const;

  // Moves `*boundary` forward to the first character start at or after
  // `position`, stepping over two bytes at a lead byte, starting afresh
  // after a line feed.
  void AdvanceBoundary(std::string_view text, std::size_t position,
                       std::size_t* boundary) const;

 private:
  std::string_view find_;
  const CodePage& code_page_;
  ByteSearch search_;
};

}  // namespace vs
