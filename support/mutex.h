// A mutex and its scoped lock that carry the thread-safety annotations:
// std::mutex of the GNU library carries none, so the analysis could not tell
// that locking it guards anything.
#pragma once

#include <mutex>

#include "support/thread_annotations.h"

namespace support {

class TW_CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock() TW_ACQUIRE() { mutex_.lock(); }
  void unlock() TW_RELEASE() { mutex_.unlock(); }

 private:
  std::mutex mutex_;
};

// Holds `mutex` for its own life.
class TW_SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) TW_ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
  ~MutexLock() TW_RELEASE() { mutex_.unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& mutex_;
};

}  // namespace support
