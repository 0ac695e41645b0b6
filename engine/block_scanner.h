// Reads a file block by block through one fixed buffer and hands out each
// block as a window: the tail its user carried over from the window
// before, followed by the block just read, so that an occurrence
// straddling two blocks is whole in one window. The tail is at most one
// byte longer than the find text, so memory stays bounded whatever the
// length of a line.
//
// It searches its windows for the find text. In a double-byte code page
// it keeps a position known to start a character (the boundary the
// Matcher needs), and carries it along with the tail, so that characters
// are never counted again from a line's start.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "engine/code_page.h"
#include "engine/file_system.h"
#include "engine/matcher.h"
#include "engine/status.h"

namespace vs {

class BlockScanner {
 public:
  // `matcher`, `code_page` and `buffer` must outlive the scanner; `buffer`
  // is scratch space, grown as needed and reused. Files are read
  // `block_size` bytes at a time.
  BlockScanner(const Matcher& matcher, const CodePage& code_page,
               std::vector<char>* buffer, std::size_t block_size);

  // Goes back to the start of `file`, with an empty window.
  Status Start(ReadableFile* file);

  // Replaces the window by the tail carried from it (see Carry) followed
  // by up to a block more of the file.
  Status Read();

  std::string_view window() const { return {data(), size_}; }
  // What the last Read added to the window.
  std::string_view fresh() const { return window().substr(fresh_from_); }
  // Whether the last Read found the end of the file: it added nothing.
  bool at_end() const { return fresh_from_ == size_; }

  // Keeps window()[from, end) for the next Read, at most one byte more
  // than the find text holds, and the boundary with it. Without a call the
  // next window starts afresh, on a character start.
  void Carry(std::size_t from) { carry_from_ = from; }

  // The first occurrence in window()[from, end) that starts a character,
  // or Matcher::npos. The boundary must lie at or before `from` (or on
  // the first character start after it), and is left on the occurrence.
  std::size_t Find(std::size_t from, std::size_t end) {
    return matcher_.Find(std::string_view(data(), end), from, &boundary_);
  }

  // The same, but only an occurrence that starts before `limit`; what a
  // search learns past `limit` is forgotten, so the boundary stays where a
  // later search from `limit` on can use it.
  std::size_t FindBefore(std::size_t from, std::size_t limit, std::size_t end) {
    std::size_t known = boundary_;
    std::size_t hit = Find(from, end);
    if (hit < limit) return hit;
    boundary_ = known;
    return Matcher::npos;
  }

  // Tells that a character starts at window()[at]: a line starts there.
  void MarkCharacterStart(std::size_t at) { boundary_ = at; }

 private:
  // carry_from_ when nothing is carried, not even the boundary.
  static constexpr std::size_t kAfresh = Matcher::npos;

  const char* data() const { return buffer_->data(); }

  const Matcher& matcher_;
  const bool double_byte_;
  std::vector<char>* buffer_;
  const std::size_t block_size_;
  ReadableFile* file_ = nullptr;
  std::size_t size_ = 0;              // the window is buffer[0, size_)
  std::size_t fresh_from_ = 0;        // where the last Read's bytes start
  std::size_t carry_from_ = kAfresh;  // where the tail to carry starts
  std::size_t boundary_ = 0;          // a character start, in double-byte pages
};

}  // namespace vs
