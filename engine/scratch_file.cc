#include "engine/scratch_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

namespace vs {
namespace {

class PosixScratchFile final : public ScratchFile {
 public:
  explicit PosixScratchFile(int fd) : fd_(fd) {}
  ~PosixScratchFile() override { ::close(fd_); }
  PosixScratchFile(const PosixScratchFile&) = delete;
  PosixScratchFile& operator=(const PosixScratchFile&) = delete;

  Status WriteAt(std::uint64_t offset, const char* data,
                 std::size_t length) override {
    while (length > 0) {
      const ssize_t wrote = ::pwrite(fd_, data, length,
                                     static_cast<off_t>(offset));
      if (wrote < 0 && errno == EINTR) continue;
      if (wrote < 0) return Status::FromErrno(errno);
      data += wrote;
      length -= static_cast<std::size_t>(wrote);
      offset += static_cast<std::uint64_t>(wrote);
    }
    return Status::Ok();
  }

  Status ReadAt(std::uint64_t offset, char* data,
                std::size_t length) const override {
    while (length > 0) {
      const ssize_t got = ::pread(fd_, data, length,
                                  static_cast<off_t>(offset));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return Status::FromErrno(errno);
      if (got == 0)
        return Status::Error(Status::Code::kIOError,
                             "the scratch file is shorter than written");
      data += got;
      length -= static_cast<std::size_t>(got);
      offset += static_cast<std::uint64_t>(got);
    }
    return Status::Ok();
  }

 private:
  const int fd_;
};

std::string ScratchFolder() {
  const char* tmpdir = std::getenv("TMPDIR");
  return tmpdir && *tmpdir ? tmpdir : "/tmp";
}

}  // namespace

Status CreatePosixScratchFile(std::unique_ptr<ScratchFile>* file) {
  const std::string folder = ScratchFolder();
  // Nameless from the start where the file system allows it.
  int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    // Else named for a moment, and unlinked at once.
    std::string name = folder + "/vellumshaper-XXXXXX";
    std::vector<char> path(name.begin(), name.end());
    path.push_back('\0');
    fd = ::mkostemp(path.data(), O_CLOEXEC);
    if (fd >= 0) ::unlink(path.data());
  }
  if (fd < 0) return Status::FromErrno(errno);
  *file = std::make_unique<PosixScratchFile>(fd);
  return Status::Ok();
}

}  // namespace vs
