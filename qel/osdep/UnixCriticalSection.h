// UnixCriticalSection: the POSIX implementation beneath CriticalSection, a recursive mutex
// that records which thread holds it and how many enters that thread has not yet left.
//
// Thread-safe: any thread may enter; only the holder leaves.
//
// 1. The nesting count is never negative, and the owner is "nobody" exactly when the
//    count is 0.
// 2. Owner and count change only in the thread that holds the mutex, so after matched
//    enters and leaves the mutex's own count equals the nesting count.
#ifndef QEL_OSDEP_UNIXCRITICALSECTION_H_
#define QEL_OSDEP_UNIXCRITICALSECTION_H_

#include <memory>

#include "qel/Noncopyable.h"
#include "qel/osdep/ThreadAnnotations.h"

namespace vo::qel::osdep {

struct UnixCriticalSectionData;

class QEL_CAPABILITY("mutex") UnixCriticalSection : public Noncopyable {
 public:
  UnixCriticalSection();
  ~UnixCriticalSection() noexcept;

  // Blocks until the calling thread holds the lock; the holder re-enters at once.
  void enter() const noexcept QEL_ACQUIRE();
  // Takes the lock if that needs no wait (always for the holder); false otherwise.
  bool tryEnter() const noexcept QEL_TRY_ACQUIRE(true);
  // Undoes one enter of the calling thread. A thread that does not hold the lock is
  // reported and releases nothing.
  void leave() const noexcept QEL_RELEASE();
  // Whether the calling thread holds the lock. Exact for the caller without locking: only
  // the caller itself can make the answer true.
  bool inOwningThread() const noexcept;

 private:
  const std::unique_ptr<UnixCriticalSectionData> cs_;
};

}  // namespace vo::qel::osdep

#endif  // QEL_OSDEP_UNIXCRITICALSECTION_H_
