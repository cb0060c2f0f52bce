/// @file KivThreadSafety.h
/// Lock annotations for clang's thread-safety analysis (-Wthread-safety).
///
/// A member that a mutex guards is declared KIV_GUARDED_BY(thatMutex); a
/// function that expects its caller to hold a lock says KIV_REQUIRES(it).
/// Under clang the analysis then proves at compile time that every read
/// and write of the member happens with the lock held; under other
/// compilers the macros expand to nothing and the code is unchanged.
///
/// The analysis only sees locks whose types are annotated, so guarded state
/// uses kiv::Mutex (or kiv::SharedMutex) and the scoped lockers below
/// instead of std::mutex and std::lock_guard: they are thin wrappers with
/// the same cost.  kiv::UniqueLock hands its std::unique_lock to a
/// condition variable: a wait gives the mutex up and takes it back before
/// returning, so to the code around it the lock is held throughout.
///
/// The header is installed because other installed headers annotate their
/// members with these macros; a host needs neither the macros nor the
/// lock types.  The macros' meaning is clang's, so the reference lists
/// only the lock types.
#ifndef KIV_PLATFORM_KIVTHREADSAFETY_H_
#define KIV_PLATFORM_KIVTHREADSAFETY_H_

#include <mutex>
#include <shared_mutex>

/// \cond internal
// The annotation macros: clang's attributes under clang, nothing elsewhere.
#if defined(__clang__)
#define KIV_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define KIV_THREAD_ANNOTATION(x)
#endif

#define KIV_CAPABILITY(x) KIV_THREAD_ANNOTATION(capability(x))
#define KIV_SCOPED_CAPABILITY KIV_THREAD_ANNOTATION(scoped_lockable)
#define KIV_GUARDED_BY(x) KIV_THREAD_ANNOTATION(guarded_by(x))
#define KIV_PT_GUARDED_BY(x) KIV_THREAD_ANNOTATION(pt_guarded_by(x))
#define KIV_ACQUIRED_BEFORE(...) KIV_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define KIV_REQUIRES(...) KIV_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define KIV_REQUIRES_SHARED(...) KIV_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))
#define KIV_ACQUIRE(...) KIV_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define KIV_ACQUIRE_SHARED(...) KIV_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#define KIV_RELEASE(...) KIV_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define KIV_RELEASE_SHARED(...) KIV_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
#define KIV_RELEASE_GENERIC(...) KIV_THREAD_ANNOTATION(release_generic_capability(__VA_ARGS__))
#define KIV_TRY_ACQUIRE(...) KIV_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define KIV_EXCLUDES(...) KIV_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define KIV_RETURN_CAPABILITY(x) KIV_THREAD_ANNOTATION(lock_returned(x))
#define KIV_NO_THREAD_SAFETY_ANALYSIS KIV_THREAD_ANNOTATION(no_thread_safety_analysis)
/// \endcond

namespace kiv {

/// std::mutex, known to the analysis.
class KIV_CAPABILITY("mutex") Mutex {
 public:
  /// Blocks until the mutex is held; it must not be held by this thread.
  void lock() KIV_ACQUIRE() { m_mutex.lock(); }
  /// Releases the mutex, which this thread must hold.
  void unlock() KIV_RELEASE() { m_mutex.unlock(); }
  /// Takes the mutex if it is free; true when it was taken.
  bool try_lock() KIV_TRY_ACQUIRE(true) { return m_mutex.try_lock(); }
  /// The wrapped mutex, for std::unique_lock and condition variables
  /// (through UniqueLock).
  std::mutex& Native() { return m_mutex; }

 private:
  std::mutex m_mutex;
};

/// std::shared_mutex, known to the analysis.
class KIV_CAPABILITY("mutex") SharedMutex {
 public:
  /// Blocks until the mutex is held exclusively.
  void lock() KIV_ACQUIRE() { m_mutex.lock(); }
  /// Releases an exclusive hold.
  void unlock() KIV_RELEASE() { m_mutex.unlock(); }
  /// Blocks until the mutex is held shared (no exclusive holder).
  void lock_shared() KIV_ACQUIRE_SHARED() { m_mutex.lock_shared(); }
  /// Releases a shared hold.
  void unlock_shared() KIV_RELEASE_SHARED() { m_mutex.unlock_shared(); }

 private:
  std::shared_mutex m_mutex;
};

/// Holds any annotated lockable (one with lock and unlock) for a scope.
template <typename Lockable>
class KIV_SCOPED_CAPABILITY LockGuard {
 public:
  /// Locks `lockable`, which must outlive the guard; unlocked when the
  /// guard goes.
  explicit LockGuard(Lockable& lockable) KIV_ACQUIRE(lockable) : m_lockable(lockable) { m_lockable.lock(); }
  ~LockGuard() KIV_RELEASE() { m_lockable.unlock(); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  Lockable& m_lockable;
};

/// Holds a SharedMutex shared for a scope.
class KIV_SCOPED_CAPABILITY SharedLock {
 public:
  /// Takes `mutex` shared; released when the lock goes.
  explicit SharedLock(SharedMutex& mutex) KIV_ACQUIRE_SHARED(mutex) : m_mutex(mutex) { m_mutex.lock_shared(); }
  ~SharedLock() KIV_RELEASE() { m_mutex.unlock_shared(); }
  SharedLock(const SharedLock&) = delete;
  SharedLock& operator=(const SharedLock&) = delete;

 private:
  SharedMutex& m_mutex;
};

/// Holds a Mutex for a scope, may give it up early (Unlock) or take it
/// again (Lock), and lends a condition variable its std::unique_lock.
class KIV_SCOPED_CAPABILITY UniqueLock {
 public:
  /// Locks `mutex`; released when the lock goes, if still held.
  explicit UniqueLock(Mutex& mutex) KIV_ACQUIRE(mutex) : m_lock(mutex.Native()) {}
  ~UniqueLock() KIV_RELEASE() = default;
  UniqueLock(const UniqueLock&) = delete;
  UniqueLock& operator=(const UniqueLock&) = delete;

  /// Takes the mutex again after Unlock(); it must not be held.
  void Lock() KIV_ACQUIRE() { m_lock.lock(); }
  /// Gives the mutex up before the scope ends; it must be held.
  void Unlock() KIV_RELEASE() { m_lock.unlock(); }
  /// The std::unique_lock, for condition_variable::wait*: held again
  /// whenever the wait returns.
  std::unique_lock<std::mutex>& Native() { return m_lock; }

 private:
  std::unique_lock<std::mutex> m_lock;
};

}  // namespace kiv

#endif  // KIV_PLATFORM_KIVTHREADSAFETY_H_
