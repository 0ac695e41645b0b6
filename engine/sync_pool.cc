#include "engine/sync_pool.h"

namespace vs {

Status MakeDurable(WritableFile* file) {
  Status status = file->Sync();
  Status closed = file->Close();
  return status.ok() ? closed : status;
}

SyncPool::~SyncPool() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopping = true;
  }
  m_queued.notify_all();
  for (std::thread& thread : m_threads) thread.join();
}

std::future<Status> SyncPool::Start(std::function<Status()> work) {
  std::packaged_task<Status()> task(std::move(work));
  std::future<Status> result = task.get_future();
  if (m_maxThreads == 0) {
    task();
    return result;
  }
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_tasks.push_back(std::move(task));
    // Another thread only when every one is busy.
    if (m_idle == 0 && m_threads.size() < m_maxThreads)
      m_threads.emplace_back(&SyncPool::Work, this);
  }
  m_queued.notify_one();
  return result;
}

void SyncPool::Work() {
  std::unique_lock<std::mutex> lock(m_mutex);
  for (;;) {
    ++m_idle;
    m_queued.wait(lock, [&] { return m_stopping || !m_tasks.empty(); });
    --m_idle;
    if (m_tasks.empty()) return;  // stopping, with nothing left to do
    std::packaged_task<Status()> task = std::move(m_tasks.front());
    m_tasks.pop_front();
    lock.unlock();
    task();  // an exception it throws is kept in its future
    lock.lock();
  }
}

}  // namespace vs
