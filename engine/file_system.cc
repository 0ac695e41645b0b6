#include "engine/file_system.h"

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

}  // namespace vs
