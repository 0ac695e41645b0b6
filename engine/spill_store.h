// Where the change entries of a run go when there are more of them than
// a memory budget allows: a scratch file, created at the first spill.
//
// Change lists that share a store tell it how many bytes they hold in
// memory; once the total is over the budget, lists move their bytes to
// the store's file (see ChangeList::Spill) and read them back when they
// are iterated. What is written is never moved or rewritten, so any
// number of lists and threads may read it at once.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/mutex.h"
#include "engine/scratch_file.h"
#include "engine/status.h"
#include "engine/thread_annotations.h"

namespace vs {

class FileSystem;

class SpillStore {
 public:
  // `file_system` makes the scratch file and must outlive the store.
  SpillStore(FileSystem* file_system, std::size_t budget)
      : file_system_(file_system), budget_(budget) {}
  SpillStore(const SpillStore&) = delete;
  SpillStore& operator=(const SpillStore&) = delete;

  std::size_t budget() const { return budget_.load(); }
  void set_budget(std::size_t budget) { budget_.store(budget); }

  // Bytes held in memory by the lists of the store, changed by `delta`.
  void Hold(std::ptrdiff_t delta) { held_.fetch_add(delta); }
  // Whether the lists hold more than the budget, or would with `more`
  // bytes besides.
  bool OverBudget(std::size_t more = 0) const {
    const std::ptrdiff_t held = held_.load(std::memory_order_relaxed);
    const std::size_t budget = budget_.load(std::memory_order_relaxed);
    const std::size_t in_memory = held > 0 ? static_cast<std::size_t>(held) : 0;
    return more > budget || in_memory > budget - more;
  }

  // Appends `bytes` to the file; false when it cannot (the file cannot be
  // made, or the disk is full), and the caller keeps them in memory.
  bool Write(const std::string& bytes, std::uint64_t* offset)
      EXCLUDES(mutex_);
  // Reads back what Write wrote. A failure to read throws
  // std::system_error: entries that cannot be read back are no listing.
  void Read(std::uint64_t offset, char* data, std::size_t length) const;

  std::uint64_t bytes_written() const EXCLUDES(mutex_);

 private:
  FileSystem* const file_system_;
  std::atomic<std::size_t> budget_;
  std::atomic<std::ptrdiff_t> held_{0};

  // Guards the file's making and its end; reads need no lock.
  mutable Mutex mutex_;
  std::unique_ptr<ScratchFile> file_ GUARDED_BY(mutex_);
  // Set once the file is made, and never changed after.
  std::atomic<const ScratchFile*> readable_{nullptr};
  std::uint64_t end_ GUARDED_BY(mutex_) = 0;
  bool failed_ GUARDED_BY(mutex_) = false;  // stays in memory from then on
};

}  // namespace vs
