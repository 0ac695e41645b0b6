// Writes out new files and makes them durable on threads of their own.
//
// fsync waits for the disk. Started as soon as a new text is known, the
// wait overlaps with the walk's further work and with the waits of
// other files, and a batch's commit mostly finds its files durable
// already. Creating the files there too keeps the walk light.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <future>
#include <thread>
#include <vector>

#include "engine/file_system.h"
#include "engine/mutex.h"
#include "engine/thread_annotations.h"

namespace vs {

// Flushes a new file to the disk and closes it.
Status MakeDurable(WritableFile* file);

class SyncPool {
 public:
  // Up to `threads` threads, started as work comes.
  explicit SyncPool(std::size_t threads) : max_threads_(threads) {}
  // Finishes the work queued, then stops.
  ~SyncPool() EXCLUDES(mutex_);
  SyncPool(const SyncPool&) = delete;
  SyncPool& operator=(const SyncPool&) = delete;

  // Starts `work`: writing out a new file and making it durable, as
  // MakeDurable does. What it touches must stay alive until the result
  // is taken. With no threads, runs it here.
  std::future<Status> Start(std::function<Status()> work) EXCLUDES(mutex_);

 private:
  void Work() EXCLUDES(mutex_);

  const std::size_t max_threads_;
  // Guards the queue and the threads' state: what is queued, how many
  // threads wait for work, whether the pool stops, and the threads
  // themselves (Start adds one while others may be running).
  Mutex mutex_;
  CondVar queued_;  // a task was queued, or the pool is stopping
  std::deque<std::packaged_task<Status()>> tasks_ GUARDED_BY(mutex_);
  std::size_t idle_ GUARDED_BY(mutex_) = 0;
  bool stopping_ GUARDED_BY(mutex_) = false;
  std::vector<std::thread> threads_ GUARDED_BY(mutex_);
};

}  // namespace vs
