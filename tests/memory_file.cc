#include "tests/memory_file.h"

#include <algorithm>
#include <utility>

namespace vs::test {

ReadSizes ReadSizes::AtMost(std::size_t limit) {
  ReadSizes sizes;
  sizes.limit_ = limit;
  return sizes;
}

ReadSizes ReadSizes::Varying(unsigned char pattern) {
  ReadSizes sizes;
  sizes.pattern_ = pattern;
  return sizes;
}

std::size_t ReadSizes::Next(std::size_t capacity) {
  std::size_t want = std::min(capacity, limit_);
  if (pattern_ != 0) {
    step_ = step_ * 5 + 1;
    want = std::min(want, 1 + (step_ + pattern_) % (1 + pattern_ % 16));
  }
  return want;
}

MemoryReadableFile::MemoryReadableFile(std::string bytes, ReadSizes sizes)
    : MemoryReadableFile(std::make_shared<const std::string>(std::move(bytes)),
                         sizes) {}

MemoryReadableFile::MemoryReadableFile(
    std::shared_ptr<const std::string> bytes, ReadSizes sizes)
    : MemoryReadableFile(bytes, *bytes, sizes) {}

MemoryReadableFile::MemoryReadableFile(
    std::shared_ptr<const std::string> owned, std::string_view bytes,
    ReadSizes sizes)
    : owned_(std::move(owned)), bytes_(bytes), sizes_(sizes) {}

MemoryReadableFile MemoryReadableFile::Borrowing(std::string_view bytes,
                                                 ReadSizes sizes) {
  return MemoryReadableFile(nullptr, bytes, sizes);
}

Status MemoryReadableFile::Read(char* buffer, std::size_t capacity,
                                std::size_t* got) {
  *got = bytes_.copy(buffer, sizes_.Next(capacity), at_);
  at_ += *got;
  return Status::Ok();
}

Status MemoryReadableFile::Rewind() {
  at_ = 0;
  return Status::Ok();
}

}  // namespace vs::test
