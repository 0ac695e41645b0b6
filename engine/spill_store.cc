#include "engine/spill_store.h"

#include <cerrno>
#include <system_error>

#include "engine/file_system.h"

namespace vs {

bool SpillStore::Write(const std::string& bytes, std::uint64_t* offset) {
  MutexLock lock(&mutex_);
  if (failed_) return false;
  if (!file_) {
    if (!file_system_->CreateScratchFile(&file_).ok()) {
      failed_ = true;
      return false;
    }
    readable_.store(file_.get());
  }
  // A failed write may leave part of its bytes: the end moves past them
  // all the same, and nothing will be written there again.
  const std::uint64_t at = end_;
  end_ += bytes.size();
  if (!file_->WriteAt(at, bytes.data(), bytes.size()).ok()) {
    failed_ = true;
    return false;
  }
  *offset = at;
  return true;
}

void SpillStore::Read(std::uint64_t offset, char* data,
                      std::size_t length) const {
  const ScratchFile* file = readable_.load();
  Status status = file ? file->ReadAt(offset, data, length)
                       : Status::Error(Status::Code::kIOError, "no file");
  if (!status.ok())
    throw std::system_error(EIO, std::generic_category(),
                            "cannot read change entries back from the "
                            "scratch file: " + status.reason());
}

std::uint64_t SpillStore::bytes_written() const {
  MutexLock lock(&mutex_);
  return end_;
}

}  // namespace vs
