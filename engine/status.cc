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

}  // namespace

Status Status::FromErrno(int error_number) {
  return Status(CodeOfErrno(error_number), std::strerror(error_number));
}

}  // namespace vs
