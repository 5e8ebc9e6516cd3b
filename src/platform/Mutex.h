// Mutexes whose use the compiler checks. Clang's -Wthread-safety reads the
// annotations below: a member marked GUARDED_BY(m) may be read or written
// only while m is held, the object a pointer marked PT_GUARDED_BY(m) points
// to likewise, a function marked REQUIRES(m) may be called only with m held
// and one marked EXCLUDES(m) only without it; ACQUIRE and RELEASE mark the
// functions that take and give back a lock, ASSERT_CAPABILITY one that
// tells the analysis a lock is held. NO_THREAD_SAFETY_ANALYSIS turns
// the check off for one function; each use says why. Other compilers see
// plain wrappers of the standard mutexes and no annotations.
//
// The analysis follows locks within one function. What it cannot see (a
// lock held across calls by an object on the heap, a lock taken in one
// function and given back in another) needs an annotation on both ends or
// an escape.
#pragma once

#include <mutex>
#include <shared_mutex>

#if defined(__clang__)
#define ORMELIN_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define ORMELIN_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(name) ORMELIN_THREAD_ANNOTATION(capability(name))
#define SCOPED_CAPABILITY ORMELIN_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(m) ORMELIN_THREAD_ANNOTATION(guarded_by(m))
#define PT_GUARDED_BY(m) ORMELIN_THREAD_ANNOTATION(pt_guarded_by(m))
#define REQUIRES(...) ORMELIN_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define REQUIRES_SHARED(...) ORMELIN_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))
#define ACQUIRE(...) ORMELIN_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define ACQUIRE_SHARED(...) ORMELIN_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#define RELEASE(...) ORMELIN_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define RELEASE_SHARED(...) ORMELIN_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
#define EXCLUDES(...) ORMELIN_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) ORMELIN_THREAD_ANNOTATION(assert_capability(x))
#define NO_THREAD_SAFETY_ANALYSIS ORMELIN_THREAD_ANNOTATION(no_thread_safety_analysis)

namespace ormelin {

// A std::mutex the analysis knows as a lock.
class CAPABILITY("mutex") TMutex {
 public:
  TMutex() = default;
  TMutex(const TMutex&) = delete;
  TMutex& operator=(const TMutex&) = delete;

  void Lock() ACQUIRE() { mutex_.lock(); }
  void Unlock() RELEASE() { mutex_.unlock(); }
  // Tells the analysis that the calling thread holds the mutex, where it
  // cannot see that for itself (a callback run under a caller's lock).
  // Checks nothing at run time.
  void AssertHeld() ASSERT_CAPABILITY(this) {}

 private:
  std::mutex mutex_;
};

// A std::recursive_mutex: the thread that holds it may take it again and
// gives it back as often. The analysis does not know re-entry; within one
// function, take it once.
class CAPABILITY("mutex") TRecursiveMutex {
 public:
  TRecursiveMutex() = default;
  TRecursiveMutex(const TRecursiveMutex&) = delete;
  TRecursiveMutex& operator=(const TRecursiveMutex&) = delete;

  void Lock() ACQUIRE() { mutex_.lock(); }
  void Unlock() RELEASE() { mutex_.unlock(); }

 private:
  std::recursive_mutex mutex_;
};

// A std::shared_mutex: one writer or any number of readers.
class CAPABILITY("mutex") TSharedMutex {
 public:
  TSharedMutex() = default;
  TSharedMutex(const TSharedMutex&) = delete;
  TSharedMutex& operator=(const TSharedMutex&) = delete;

  void Lock() ACQUIRE() { mutex_.lock(); }
  void Unlock() RELEASE() { mutex_.unlock(); }
  void LockShared() ACQUIRE_SHARED() { mutex_.lock_shared(); }
  void UnlockShared() RELEASE_SHARED() { mutex_.unlock_shared(); }

 private:
  std::shared_mutex mutex_;
};

// Holds a mutex (TMutex, TRecursiveMutex or TSharedMutex, exclusively) from
// construction to the end of the scope. lock() and unlock(), in the
// standard's spelling, let std::condition_variable_any wait with it: the
// wait gives the mutex back and takes it again before it returns, so to
// the analysis the mutex stays held throughout.
template <class Mutex>
class SCOPED_CAPABILITY TBasicMutexLock {
 public:
  explicit TBasicMutexLock(Mutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.Lock(); }
  ~TBasicMutexLock() RELEASE() {
    if (held_) mutex_.Unlock();
  }
  TBasicMutexLock(const TBasicMutexLock&) = delete;
  TBasicMutexLock& operator=(const TBasicMutexLock&) = delete;

  void lock() ACQUIRE() {
    mutex_.Lock();
    held_ = true;
  }
  void unlock() RELEASE() {
    held_ = false;
    mutex_.Unlock();
  }

 private:
  Mutex& mutex_;
  bool held_ = true;
};

using TMutexLock = TBasicMutexLock<TMutex>;
using TRecursiveMutexLock = TBasicMutexLock<TRecursiveMutex>;
using TWriterLock = TBasicMutexLock<TSharedMutex>;

// Holds a TSharedMutex as one of its readers for the scope.
class SCOPED_CAPABILITY TReaderLock {
 public:
  explicit TReaderLock(TSharedMutex& mutex) ACQUIRE_SHARED(mutex) : mutex_(mutex) {
    mutex_.LockShared();
  }
  ~TReaderLock() RELEASE() { mutex_.UnlockShared(); }
  TReaderLock(const TReaderLock&) = delete;
  TReaderLock& operator=(const TReaderLock&) = delete;

 private:
  TSharedMutex& mutex_;
};

}  // namespace ormelin
