#include "engine/change_log.h"

namespace vs {

void ChangeLog::Record(const std::string& path, ChangeList changes) {
  m_entries[path] = std::move(changes);
}

const ChangeList& ChangeLog::LookUp(const std::string& path) {
  return m_entries[path];
}

}  // namespace vs
