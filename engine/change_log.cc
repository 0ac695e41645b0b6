#include "engine/change_log.h"

namespace vs {

void ChangeLog::Record(std::string path, ChangeList changes) {
  // The walk records paths mostly in their sorted order, so the end is
  // tried first; a wrong guess costs an ordinary search.
  m_entries.insert_or_assign(m_entries.end(), std::move(path),
                             std::move(changes));
}

const ChangeList& ChangeLog::LookUp(const std::string& path) {
  return m_entries[path];
}

}  // namespace vs
