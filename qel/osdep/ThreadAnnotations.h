// Clang's thread-safety annotations, and the small annotated mutex with its scoped guard
// that code holding plain, non-recursive locks uses. With -Wthread-safety (the clang
// builds) the compiler checks that data marked QEL_GUARDED_BY is touched only under its
// lock; other compilers see empty macros.
//
// Thread-safe: a Mutex is shared by the threads it serialises.
//
// 1. A Mutex is usable from static initialisation on (it needs no constructor to run) and
//    has nothing to release at unload.
// 2. A Mutex is not recursive: locking it twice from one thread deadlocks.
#ifndef QEL_OSDEP_THREADANNOTATIONS_H_
#define QEL_OSDEP_THREADANNOTATIONS_H_

#include <pthread.h>

#include <cstdint>

#include "qel/osdep/OutputAssertion.h"

#if defined(__clang__)
#define QEL_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define QEL_THREAD_ANNOTATION(x)
#endif

#define QEL_CAPABILITY(x) QEL_THREAD_ANNOTATION(capability(x))
#define QEL_SCOPED_CAPABILITY QEL_THREAD_ANNOTATION(scoped_lockable)
#define QEL_GUARDED_BY(x) QEL_THREAD_ANNOTATION(guarded_by(x))
#define QEL_ACQUIRE(...) QEL_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define QEL_TRY_ACQUIRE(...) QEL_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define QEL_RELEASE(...) QEL_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define QEL_REQUIRES(...) QEL_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
// For the few functions whose locking the analysis cannot follow (a lock that forwards
// to another object, a lock held across a thread's start).
#define QEL_NO_THREAD_SAFETY_ANALYSIS QEL_THREAD_ANNOTATION(no_thread_safety_analysis)

namespace vo::qel::osdep {

class QEL_CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock() noexcept QEL_ACQUIRE() { Check(pthread_mutex_lock(&mutex_), "pthread_mutex_lock"); }
  void unlock() noexcept QEL_RELEASE() {
    Check(pthread_mutex_unlock(&mutex_), "pthread_mutex_unlock");
  }

  // The system mutex, for a condition variable to wait on.
  // REQUIRES: the calling thread holds this mutex.
  pthread_mutex_t* native() noexcept QEL_REQUIRES(this) { return &mutex_; }

 private:
  // These calls fail only on a mutex that is not held by the caller (unlock), which the
  // annotations rule out; a failure is reported and the caller goes on.
  static void Check(int result, const char* call) noexcept {
    if (result != 0) OutputAssertion("result == 0", call, "osdep/ThreadAnnotations", __LINE__);
  }

  pthread_mutex_t mutex_ = PTHREAD_MUTEX_INITIALIZER;
};

// Holds a Mutex for the guard's lifetime.
class QEL_SCOPED_CAPABILITY MutexGuard {
 public:
  explicit MutexGuard(Mutex& mutex) noexcept QEL_ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
  ~MutexGuard() noexcept QEL_RELEASE() { mutex_.unlock(); }
  MutexGuard(const MutexGuard&) = delete;
  MutexGuard& operator=(const MutexGuard&) = delete;

 private:
  Mutex& mutex_;
};

}  // namespace vo::qel::osdep

#endif  // QEL_OSDEP_THREADANNOTATIONS_H_
