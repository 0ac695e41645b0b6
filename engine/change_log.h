// What a run changed, file by file.
#pragma once

#include <map>
#include <set>
#include <string>

#include "engine/change_list.h"

namespace vs {

class SpillStore;

// Change entries by a file's path as found (its folder, "/", the name
// it was listed under). Keys sort as unsigned byte strings, which is
// how std::string compares. Entries are never removed. (A hash map was
// tried: growing it cost more than the comparisons it saved.)
class ChangeLog {
 public:
  ChangeLog() = default;
  // A copy's index would point into the original.
  ChangeLog(const ChangeLog&) = delete;
  ChangeLog& operator=(const ChangeLog&) = delete;
  ChangeLog(ChangeLog&&) = default;
  ChangeLog& operator=(ChangeLog&&) = default;

  // Stores `changes` as the whole list of `path`, replacing whatever an
  // earlier run recorded there; returns the stored list.
  const ChangeList& Record(std::string path, ChangeList changes);

  // The list of `path`; an absent path is first given an empty list.
  const ChangeList& LookUp(const std::string& path);

  // The list of `path`, or an empty one when it is absent; adds nothing.
  const ChangeList& Entries(const std::string& path) const;

  std::size_t size() const { return entries_.size(); }

  // Lists recorded from now on share `store` (unless they have one) and
  // spill to it while it is over its budget. Null: all stay in memory.
  void set_spill_store(SpillStore* store) { spill_store_ = store; }

  // Every path with its list, in the keys' byte order.
  using Entry = std::map<std::string, ChangeList>::value_type;
  using const_iterator = std::map<std::string, ChangeList>::const_iterator;
  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.end(); }

  // The entries whose lists are not empty, in the keys' byte order. Most
  // files walked change nothing: a listing goes through these alone
  // rather than through every path of a large tree.
  struct ByPath {
    bool operator()(const Entry* a, const Entry* b) const {
      return a->first < b->first;
    }
  };
  const std::set<const Entry*, ByPath>& not_empty() const {
    return not_empty_;
  }

 private:
  std::map<std::string, ChangeList> entries_;
  std::set<const Entry*, ByPath> not_empty_;  // into entries_
  SpillStore* spill_store_ = nullptr;
};

}  // namespace vs
