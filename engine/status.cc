#include "engine/status.h"

#include <cerrno>
#include <cstring>

namespace vs {
namespace {

Status::Code CodeOfErrno(int error_number) {
  switch (error_number) {
    case ENOENT:
    case ENOTDIR:
      return Status::Code::kNotFound;
    case EEXIST:
    case ENOTEMPTY:
      return Status::Code::kExists;
    case ELOOP:  // what O_NOFOLLOW gives for a symbolic link
      return Status::Code::kNotRegular;
    case EMFILE:
    case ENFILE:
      return Status::Code::kNoDescriptors;
    case ENOSPC:
    case EDQUOT:
      return Status::Code::kNoSpace;
    default:
      // Zero lands here too: a caller that claims a failure gets one.
      return Status::Code::kIOError;
  }
}

// strerror_r comes in two kinds: the GNU one returns the text (which may
// or may not be in the buffer), the POSIX one fills the buffer and
// returns 0.
[[maybe_unused]] const char* TextOf(const char* text, const char*) {
  return text;
}
[[maybe_unused]] const char* TextOf(int result, const char* buffer) {
  return result == 0 ? buffer : "Unknown error";
}

}  // namespace

Status Status::FromErrno(int error_number) {
  // Not strerror: file systems fail on many threads at once, and
  // strerror may hand them all one buffer.
  char buffer[256];
  return Status(CodeOfErrno(error_number),
                TextOf(strerror_r(error_number, buffer, sizeof buffer),
                       buffer));
}

}  // namespace vs
