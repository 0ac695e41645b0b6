// In-memory files for tests, fuzz targets and benchmarks. A
// MemoryReadableFile serves bytes as a ReadableFile, in reads of the sizes
// a ReadSizes picks, so a reader can be shown every way a file may be
// handed out; a CountingSink takes what is written and keeps only its
// length. (StringSink, in the engine, is the sink that keeps the bytes.)
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "engine/file_system.h"

namespace vs::test {

// How many bytes each Read of a MemoryReadableFile gives, at most what
// the caller asked for and what is left.
class ReadSizes {
 public:
  // As many as asked for.
  ReadSizes() = default;
  // At most `limit` per read.
  static ReadSizes AtMost(std::size_t limit);
  // A sequence of sizes from 1 to 1 + pattern % 16 that `pattern` picks;
  // 0 reads as many as asked for. The sequence goes on across rewinds.
  // (The fuzz corpus was found with it: it must never change.)
  static ReadSizes Varying(unsigned char pattern);

  // The size of the next read of up to `capacity` bytes.
  std::size_t Next(std::size_t capacity);

 private:
  std::size_t limit_ = SIZE_MAX;
  unsigned char pattern_ = 0;
  std::size_t step_ = 0;
};

// Reads bytes it owns, shares or borrows; each read copies them, as
// read(2) would.
class MemoryReadableFile final : public ReadableFile {
 public:
  // Reads a copy of `bytes`.
  explicit MemoryReadableFile(std::string bytes, ReadSizes sizes = {});
  // Reads `bytes`, shared with others who never change them.
  explicit MemoryReadableFile(std::shared_ptr<const std::string> bytes,
                              ReadSizes sizes = {});
  // Reads `bytes` where they are, for inputs too large to copy; they
  // must outlive the file.
  static MemoryReadableFile Borrowing(std::string_view bytes,
                                      ReadSizes sizes = {});

  Status Read(char* buffer, std::size_t capacity, std::size_t* got) override;
  Status Rewind() override;

 private:
  MemoryReadableFile(std::shared_ptr<const std::string> owned,
                     std::string_view bytes, ReadSizes sizes);

  std::shared_ptr<const std::string> owned_;  // null when borrowed
  std::string_view bytes_;                    // owned_'s, or borrowed
  ReadSizes sizes_;
  std::size_t at_ = 0;
};

// Takes whatever is written and only counts it, where keeping the bytes
// would cost more than what is measured.
class CountingSink final : public WritableFile {
 public:
  std::uint64_t written() const { return written_; }

  Status Append(const char*, std::size_t length) override {
    written_ += length;
    return Status::Ok();
  }
  Status Flush() override { return Status::Ok(); }
  Status Sync() override { return Status::Ok(); }
  Status Close() override { return Status::Ok(); }

 private:
  std::uint64_t written_ = 0;
};

}  // namespace vs::test
