#include "engine/change_log.h"

namespace vs {

void ChangeLog::Record(const std::string& path, const ChangeList& changes) {
  m_entries[path] = changes;
}

const ChangeList& ChangeLog::LookUp(const std::string& path) {
  return m_entries[path];
}

}  // namespace vs
