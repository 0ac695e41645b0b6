#include "engine/block_scanner.h"

#include <assert.h>
#include <string.h>

#include <algorithm>

namespace vs {

BlockScanner::BlockScanner(const Matcher& matcher, const CodePage& code_page,
                           std::vector<char>* buffer, std::size_t block_size)
    : matcher_(matcher),
      double_byte_(code_page.double_byte()),
      buffer_(buffer),
      block_size_(std::max<std::size_t>(block_size, 1)) {
  // Room for a whole block after the longest tail carried over.
  std::size_t needed = block_size_ + matcher.length() + 1;
  if (buffer_->size() < needed) buffer_->resize(needed);
}

Status BlockScanner::Start(ReadableFile* file) {
  file_ = file;
  size_ = fresh_from_ = boundary_ = 0;
  carry_from_ = kAfresh;
  return file->Rewind();
}

Status BlockScanner::Read() {
  std::size_t kept = 0;
  if (carry_from_ == kAfresh) {
    boundary_ = 0;
  } else {
    kept = size_ - carry_from_;
    assert(kept <= matcher_.length() + 1);
    if (double_byte_) {
      // The boundary moves with the tail, to the tail's first character
      // start (which may lie past the tail's first byte).
      matcher_.AdvanceBoundary(window(), carry_from_, &boundary_);
      boundary_ -= carry_from_;
    }
    char* buffer = buffer_->data();
    memmove(buffer, buffer + carry_from_, kept);
  }
  std::size_t got = 0;
  Status status = file_->Read(buffer_->data() + kept, block_size_, &got);
  fresh_from_ = kept;
  size_ = kept + got;
  carry_from_ = kAfresh;
  return status;
}

}  // namespace vs
