// A mutex, its scoped lock and a condition variable that Clang's
// thread-safety analysis understands (std::mutex carries no attributes).
// Thin wrappers: each call is the std:: call it names.
#pragma once

#include <condition_variable>
#include <mutex>

#include "engine/thread_annotations.h"

namespace vs {

class CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void Lock() ACQUIRE() { mutex_.lock(); }
  void Unlock() RELEASE() { mutex_.unlock(); }
  // Tells the analysis the caller holds it (where it cannot see so).
  void AssertHeld() ASSERT_CAPABILITY(this) {}

 private:
  friend class CondVar;
  std::mutex mutex_;
};

// Holds `mutex` from construction to the end of the scope.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex* mutex) ACQUIRE(mutex) : mutex_(mutex) {
    mutex_->Lock();
  }
  ~MutexLock() RELEASE() { mutex_->Unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex* const mutex_;
};

// Waits on one Mutex, which the waiter holds.
class CondVar {
 public:
  explicit CondVar(Mutex* mutex) : mutex_(mutex) {}
  CondVar(const CondVar&) = delete;
  CondVar& operator=(const CondVar&) = delete;

  // Releases the mutex while it sleeps; may wake without a signal, so
  // callers wait in a loop on their condition.
  void Wait() REQUIRES(mutex_) {
    std::unique_lock<std::mutex> lock(mutex_->mutex_, std::adopt_lock);
    cv_.wait(lock);
    lock.release();
  }
  void Signal() { cv_.notify_one(); }
  void SignalAll() { cv_.notify_all(); }

 private:
  Mutex* const mutex_;
  std::condition_variable cv_;
};

}  // namespace vs
