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

// A condition to wait for under a Mutex. Every waiter of one CondVar
// passes the same Mutex.
class CondVar {
 public:
  CondVar() = default;
  CondVar(const CondVar&) = delete;
  CondVar& operator=(const CondVar&) = delete;

  // Releases `mutex` while it sleeps and holds it again on return. May
  // wake without a signal, so callers wait in a loop on their condition.
  void Wait(Mutex* mutex) REQUIRES(mutex) {
    std::unique_lock<std::mutex> lock(mutex->mutex_, std::adopt_lock);
    cv_.wait(lock);
    lock.release();
  }
  void Signal() { cv_.notify_one(); }
  void SignalAll() { cv_.notify_all(); }

 private:
  std::condition_variable cv_;
};

}  // namespace vs
