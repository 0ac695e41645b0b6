#include "engine/file_system.h"

#include <unistd.h>

#include <cerrno>
#include <vector>

namespace vs {

bool SameVersion(const FileInfo& a, const FileInfo& b) {
  // Not the change time: renaming another link of the same file changes
  // it, while any write changes the modification time.
  return a.device == b.device && a.inode == b.inode && a.size == b.size &&
         a.modified_ns == b.modified_ns;
}

bool UntouchedSince(const FileInfo& read, const FileInfo& now) {
  if (!SameVersion(read, now)) return false;
  return read.links != 1 || now.links != 1 || read.changed_ns == now.changed_ns;
}

Status FileSystem::AbsolutePath(const std::string& path,
                                std::string* absolute) {
  if (!path.empty() && path[0] == '/') {
    *absolute = path;
    return Status::Ok();
  }
  std::vector<char> buffer(4096);
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return Status::FromErrno(errno);
    buffer.resize(buffer.size() * 2);
  }
  *absolute = buffer.data();
  if (path.empty() || path == ".") return Status::Ok();
  if (absolute->back() != '/') absolute->push_back('/');
  absolute->append(path);
  return Status::Ok();
}

}  // namespace vs
