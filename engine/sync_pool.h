// Writes out new files and makes them durable on threads of their own.
//
// fsync waits for the disk. Started as soon as a new text is known, the
// wait overlaps with the walk's further work and with the waits of
// other files, and a batch's commit mostly finds its files durable
// already. Creating the files there too keeps the walk light.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/file_system.h"

namespace vs {

// Flushes a new file to the disk and closes it.
Status MakeDurable(WritableFile* file);

class SyncPool {
 public:
  // Up to `threads` threads, started as work comes.
  explicit SyncPool(std::size_t threads) : m_maxThreads(threads) {}
  // Finishes the work queued, then stops.
  ~SyncPool();
  SyncPool(const SyncPool&) = delete;
  SyncPool& operator=(const SyncPool&) = delete;

  // Starts `work`: writing out a new file and making it durable, as
  // MakeDurable does. What it touches must stay alive until the result
  // is taken. With no threads, runs it here.
  std::future<Status> Start(std::function<Status()> work);

 private:
  void Work();

  const std::size_t m_maxThreads;
  std::mutex m_mutex;
  std::condition_variable m_queued;
  std::deque<std::packaged_task<Status()>> m_tasks;
  std::size_t m_idle = 0;
  bool m_stopping = false;
  std::vector<std::thread> m_threads;
};

}  // namespace vs
