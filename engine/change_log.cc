#include "engine/change_log.h"

namespace vs {

const ChangeList& ChangeLog::Record(std::string path, ChangeList changes) {
  if (spill_store_ && !changes.empty()) changes.Settle(spill_store_);
  // The walk records paths mostly in their sorted order, so the end is
  // tried first; a wrong guess costs an ordinary search.
  auto entry = entries_.try_emplace(entries_.end(), std::move(path));
  const bool was_empty = entry->second.empty();  // a new path's list is
  entry->second = std::move(changes);
  if (was_empty != entry->second.empty()) {
    if (was_empty) {
      not_empty_.insert(&*entry);
    } else {
      not_empty_.erase(&*entry);
    }
  }
  return entry->second;
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
