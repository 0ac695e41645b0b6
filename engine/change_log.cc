#include "engine/change_log.h"

namespace vs {

const ChangeList& ChangeLog::Record(std::string path, ChangeList changes) {
  if (spill_store_ && !changes.empty()) changes.Settle(spill_store_);
  // The walk records paths mostly in their sorted order, so the end is
  // tried first; a wrong guess costs an ordinary search.
  return entries_
      .insert_or_assign(entries_.end(), std::move(path), std::move(changes))
      ->second;
}

const ChangeList& ChangeLog::LookUp(const std::string& path) {
  return entries_[path];
}

const ChangeList& ChangeLog::Entries(const std::string& path) const {
  static const ChangeList kNone;
  auto found = entries_.find(path);
  return found == entries_.end() ? kNone : found->second;
}

}  // namespace vs
