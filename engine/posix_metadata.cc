#include "engine/posix_metadata.h"

#include <sys/ioctl.h>
#include <sys/xattr.h>
#if defined(__linux__)
#include <linux/fs.h>
#endif

#include <cerrno>
#include <cstring>
#include <vector>

namespace vs {
namespace {

constexpr char kCapabilities[] = "security.capability";
// Room for the names or value most files have, so one call reads them.
constexpr std::size_t kFirstBufferSize = 1024;

// What a refusal to keep `what` says; any other failure is the system's.
Status CannotKeep(int error_number, const std::string& what) {
  switch (error_number) {
    case EPERM:
    case EACCES:
    case EOPNOTSUPP:
    case EINVAL:
    case ERANGE:
    case E2BIG:
      return Status::Error(Status::Code::kIOError,
                           "cannot keep the file's " + what);
    default:
      return Status::FromErrno(error_number);
  }
}

std::string Describe(const std::string& name) {
  if (name == "system.posix_acl_access") return "ACL";
  if (name == "system.posix_acl_default") return "default ACL";
  if (name == "security.selinux") return "SELinux label";
  if (name == kCapabilities) return "capabilities";
  return "extended attribute " + name;
}

// Reads with `call(buffer, size)` what an *xattr call gives, growing the
// buffer while it is too small. Returns 0 or the errno.
template <typename Call>
int ReadGrowing(std::vector<char>* buffer, Call call) {
  if (buffer->empty()) buffer->resize(kFirstBufferSize);
  for (;;) {
    ssize_t n = call(buffer->data(), buffer->size());
    if (n >= 0) {
      buffer->resize(static_cast<std::size_t>(n));
      return 0;
    }
    if (errno != ERANGE) return errno;
    n = call(nullptr, 0);  // the size it needs now; it may grow again
    if (n < 0) return errno;
    buffer->resize(static_cast<std::size_t>(n) + kFirstBufferSize);
  }
}

// The names of the attributes on `fd` the process may see, none where
// the file system keeps no attributes at all. Returns 0 or the errno.
int ListNames(int fd, std::vector<std::string>* names) {
  std::vector<char> list;
  int error = ReadGrowing(&list, [fd](char* buffer, std::size_t size) {
    return flistxattr(fd, buffer, size);
  });
  names->clear();
  if (error == EOPNOTSUPP) return 0;
  if (error != 0) return error;
  for (std::size_t at = 0; at < list.size();) {
    std::size_t end = at;
    while (end < list.size() && list[end] != '\0') ++end;
    if (end > at) names->emplace_back(list.data() + at, end - at);
    at = end + 1;
  }
  return 0;
}

// Sets every attribute of `from_fd` on `to_fd` and removes the others.
Status CopyAttributes(int from_fd, int to_fd, std::string* capabilities) {
  std::vector<std::string> from_names, to_names;
  int error = ListNames(from_fd, &from_names);
  if (error != 0) return CannotKeep(error, "extended attributes");
  // A new file may have inherited attributes: an ACL from its folder's
  // default ACL, a label from the security policy.
  error = ListNames(to_fd, &to_names);
  if (error != 0) return CannotKeep(error, "extended attributes");
  for (const std::string& name : to_names) {
    bool kept = false;
    for (const std::string& from : from_names) kept = kept || from == name;
    if (kept || fremovexattr(to_fd, name.c_str()) == 0 || errno == ENODATA)
      continue;
    return CannotKeep(errno, Describe(name));
  }
  std::vector<char> value;
  for (const std::string& name : from_names) {
    error = ReadGrowing(&value, [&](char* buffer, std::size_t size) {
      return fgetxattr(from_fd, name.c_str(), buffer, size);
    });
    if (error == ENODATA) continue;  // removed since the listing
    if (error != 0) return CannotKeep(error, Describe(name));
    if (fsetxattr(to_fd, name.c_str(), value.data(), value.size(), 0) != 0)
      return CannotKeep(errno, Describe(name));
    if (name == kCapabilities) capabilities->assign(value.begin(), value.end());
  }
  return Status::Ok();
}

#if defined(FS_IOC_GETFLAGS)

// The flags a file's owner (or a privileged process) sets on a file,
// which the new file must have exactly. The others are the file system's
// own (extents, inline data, ...), or are for folders.
constexpr int kCarriedFlags = FS_SECRM_FL | FS_UNRM_FL | FS_COMPR_FL |
                              FS_SYNC_FL | FS_NODUMP_FL | FS_NOATIME_FL |
                              FS_NOCOMP_FL | FS_JOURNAL_DATA_FL |
                              FS_NOTAIL_FL | FS_NOCOW_FL | FS_DAX_FL |
                              FS_PROJINHERIT_FL;

bool LacksFlags(int error_number) {
  return error_number == ENOTTY || error_number == EINVAL ||
         error_number == EOPNOTSUPP || error_number == ENOSYS;
}

// Reads `from_fd`'s flags into *flags, 0 where the file system has none.
Status ReadFlags(int from_fd, int* flags) {
  *flags = 0;
  if (ioctl(from_fd, FS_IOC_GETFLAGS, flags) != 0) {
    *flags = 0;
    if (!LacksFlags(errno)) return CannotKeep(errno, "inode flags");
  }
  // Neither can be replaced, nor set on a file that is still to be
  // written.
  if (*flags & FS_IMMUTABLE_FL)
    return Status::Error(Status::Code::kIOError, "the file is immutable");
  if (*flags & FS_APPEND_FL)
    return Status::Error(Status::Code::kIOError, "the file is append-only");
#if defined(FS_VERITY_FL)
  // A sealed file's content is checked against a hash fixed when it was
  // sealed; sealing takes the file's own tool, so a new file would lose
  // the seal without a word.
  if (*flags & FS_VERITY_FL)
    return Status::Error(Status::Code::kIOError,
                         "cannot keep the file's fs-verity seal");
#endif
  return Status::Ok();
}

// Before any byte is written: some flags (nocow) only take on an empty
// file.
Status CopyFlags(int from_flags, int to_fd) {
  int flags = 0;
  if (ioctl(to_fd, FS_IOC_GETFLAGS, &flags) != 0) {
    if (LacksFlags(errno) && (from_flags & kCarriedFlags) == 0)
      return Status::Ok();
    return CannotKeep(errno, "inode flags");
  }
  int wanted = (flags & ~kCarriedFlags) | (from_flags & kCarriedFlags);
  if (wanted == flags || ioctl(to_fd, FS_IOC_SETFLAGS, &wanted) == 0)
    return Status::Ok();
  return CannotKeep(errno, "inode flags");
}

#else  // no inode flags

Status ReadFlags(int, int* flags) {
  *flags = 0;
  return Status::Ok();
}
Status CopyFlags(int, int) { return Status::Ok(); }

#endif

}  // namespace

Status CopyMetadata(int from_fd, int to_fd, std::string* capabilities) {
  capabilities->clear();
  int flags = 0;
  Status status = ReadFlags(from_fd, &flags);
  if (status.ok()) status = CopyFlags(flags, to_fd);
  if (status.ok()) status = CopyAttributes(from_fd, to_fd, capabilities);
  return status;
}

Status PutBackCapabilities(int fd, const std::string& capabilities) {
  if (fsetxattr(fd, kCapabilities, capabilities.data(), capabilities.size(),
                0) == 0)
    return Status::Ok();
  return CannotKeep(errno, Describe(kCapabilities));
}

}  // namespace vs
