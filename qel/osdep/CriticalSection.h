// CriticalSection: a recursive lock that knows which thread holds it and how often. The
// lock state is not part of the object's logical value, so every operation is const.
//
// Thread-safe: any thread may enter; only the holder leaves.
//
// 1. The holder may enter again (enter or tryEnter) and must leave once per enter; the
//    lock is free again after the last leave.
// 2. A leave by a thread that does not hold the lock is reported as a failed check and
//    releases nothing.
// 3. Destroying a held critical section is reported as a failed check.
#ifndef QEL_OSDEP_CRITICALSECTION_H_
#define QEL_OSDEP_CRITICALSECTION_H_

#include "qel/Noncopyable.h"
#include "qel/osdep/ThreadAnnotations.h"
#include "qel/osdep/UnixCriticalSection.h"

namespace vo::qel::osdep {

class QEL_CAPABILITY("mutex") CriticalSection : public Noncopyable {
 public:
  CriticalSection();
  ~CriticalSection() noexcept;

  // The analysis cannot follow the forwarding to the implementation object, whose
  // operations carry the same annotations.
  void enter() const noexcept QEL_ACQUIRE() QEL_NO_THREAD_SAFETY_ANALYSIS { cs_.enter(); }
  bool tryEnter() const noexcept QEL_TRY_ACQUIRE(true) QEL_NO_THREAD_SAFETY_ANALYSIS {
    return cs_.tryEnter();
  }
  void leave() const noexcept QEL_RELEASE() QEL_NO_THREAD_SAFETY_ANALYSIS { cs_.leave(); }
  bool inOwningThread() const noexcept { return cs_.inOwningThread(); }

 private:
  UnixCriticalSection cs_;
};

}  // namespace vo::qel::osdep

#endif  // QEL_OSDEP_CRITICALSECTION_H_
