#include "engine/file_system.h"

namespace vs {

bool SameVersion(const FileInfo& a, const FileInfo& b) {
  return a.device == b.device && a.inode == b.inode && a.size == b.size &&
         a.modified_ns == b.modified_ns && a.changed_ns == b.changed_ns;
}

}  // namespace vs
