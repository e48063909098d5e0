// A mutex the thread-safety analysis knows as a lock, and the scoped locks that hold it.
//
// TMutex is std::mutex with annotations. TMutexLock holds it for a scope; TUniqueLock may let
// go and take it again within the scope, and is what a std::condition_variable_any waits with.
// TSharedMutex is std::shared_mutex, held by TExclusiveLock or TSharedLock for a scope.
// Any thread; one object of a lock type belongs to the thread that made it.
#pragma once

#include <mutex>
#include <shared_mutex>

#include "base/thread_annotations.h"

namespace kelvo {

class CAPABILITY("mutex") TMutex {
 public:
  TMutex() = default;
  TMutex(const TMutex&) = delete;
  TMutex& operator=(const TMutex&) = delete;

  void lock() ACQUIRE() { fMutex.lock(); }
  void unlock() RELEASE() { fMutex.unlock(); }
  bool try_lock() TRY_ACQUIRE(true) { return fMutex.try_lock(); }

 private:
  std::mutex fMutex;
};

// Holds AMutex from construction to the end of the scope.
class SCOPED_CAPABILITY TMutexLock {
 public:
  explicit TMutexLock(TMutex& AMutex) ACQUIRE(AMutex) : fMutex(AMutex) { fMutex.lock(); }
  ~TMutexLock() RELEASE() { fMutex.unlock(); }
  TMutexLock(const TMutexLock&) = delete;
  TMutexLock& operator=(const TMutexLock&) = delete;

 private:
  TMutex& fMutex;
};

// Holds AMutex from construction; Unlock and Lock let go of it and take it again, and the
// destructor lets go only if it is held. Meets BasicLockable, so that
// std::condition_variable_any can wait with it.
class SCOPED_CAPABILITY TUniqueLock {
 public:
  explicit TUniqueLock(TMutex& AMutex) ACQUIRE(AMutex) : fMutex(AMutex) { fMutex.lock(); }
  ~TUniqueLock() RELEASE() {
    if (fHeld) {
      fMutex.unlock();
    }
  }
  TUniqueLock(const TUniqueLock&) = delete;
  TUniqueLock& operator=(const TUniqueLock&) = delete;

  void Lock() ACQUIRE() {
    fMutex.lock();
    fHeld = true;
  }
  void Unlock() RELEASE() {
    fHeld = false;
    fMutex.unlock();
  }
  // For std::condition_variable_any, which lets go while it waits and takes the lock again
  // before it returns; to the analysis the lock is held throughout.
  void lock() NO_THREAD_SAFETY_ANALYSIS { Lock(); }
  void unlock() NO_THREAD_SAFETY_ANALYSIS { Unlock(); }

 private:
  TMutex& fMutex;
  bool fHeld = true;
};

class CAPABILITY("shared mutex") TSharedMutex {
 public:
  TSharedMutex() = default;
  TSharedMutex(const TSharedMutex&) = delete;
  TSharedMutex& operator=(const TSharedMutex&) = delete;

  void lock() ACQUIRE() { fMutex.lock(); }
  void unlock() RELEASE() { fMutex.unlock(); }
  void lock_shared() ACQUIRE_SHARED() { fMutex.lock_shared(); }
  void unlock_shared() RELEASE_SHARED() { fMutex.unlock_shared(); }

 private:
  std::shared_mutex fMutex;
};

// Holds AMutex alone from construction to the end of the scope.
class SCOPED_CAPABILITY TExclusiveLock {
 public:
  explicit TExclusiveLock(TSharedMutex& AMutex) ACQUIRE(AMutex) : fMutex(AMutex) { fMutex.lock(); }
  ~TExclusiveLock() RELEASE() { fMutex.unlock(); }
  TExclusiveLock(const TExclusiveLock&) = delete;
  TExclusiveLock& operator=(const TExclusiveLock&) = delete;

 private:
  TSharedMutex& fMutex;
};

// Holds AMutex shared with other readers from construction to the end of the scope.
class SCOPED_CAPABILITY TSharedLock {
 public:
  explicit TSharedLock(TSharedMutex& AMutex) ACQUIRE_SHARED(AMutex) : fMutex(AMutex) {
    fMutex.lock_shared();
  }
  ~TSharedLock() RELEASE_GENERIC() { fMutex.unlock_shared(); }
  TSharedLock(const TSharedLock&) = delete;
  TSharedLock& operator=(const TSharedLock&) = delete;

 private:
  TSharedMutex& fMutex;
};

}  // namespace kelvo
