#include "engine/sync_pool.h"

#include <system_error>

namespace vs {

Status MakeDurable(WritableFile* file) {
  Status status = file->Sync();
  Status closed = file->Close();
  return status.ok() ? closed : status;
}

SyncPool::~SyncPool() {
  std::vector<std::thread> threads;
  {
    MutexLock lock(&mutex_);
    stopping_ = true;
    // No Start can come any more, so the list is the destructor's now;
    // joined outside the lock, which the threads need to finish.
    threads.swap(threads_);
  }
  queued_.SignalAll();
  for (std::thread& thread : threads) thread.join();
}

std::future<Status> SyncPool::Start(std::function<Status()> work) {
  std::packaged_task<Status()> task(std::move(work));
  std::future<Status> result = task.get_future();
  if (max_threads_ == 0) {
    task();
    return result;
  }
  bool run_here = false;
  {
    MutexLock lock(&mutex_);
    // Another thread only when every one is busy.
    if (idle_ == 0 && threads_.size() < max_threads_) {
      // Short of memory for a thread's stack, the threads there are do
      // the work; with none, it is done here.
      try {
        threads_.emplace_back(&SyncPool::Work, this);
      } catch (const std::system_error&) {
        run_here = threads_.empty();
      }
    }
    if (!run_here) tasks_.push_back(std::move(task));
  }
  if (run_here) {
    task();
    return result;
  }
  queued_.Signal();
  return result;
}

void SyncPool::Work() {
  mutex_.Lock();
  for (;;) {
    ++idle_;
    while (!stopping_ && tasks_.empty()) queued_.Wait(&mutex_);
    --idle_;
    if (tasks_.empty()) break;  // stopping, with nothing left to do
    std::packaged_task<Status()> task = std::move(tasks_.front());
    tasks_.pop_front();
    mutex_.Unlock();
    task();  // an exception it throws is kept in its future
    mutex_.Lock();
  }
  mutex_.Unlock();
}

}  // namespace vs
