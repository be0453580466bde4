// CriticalSectionRAIIHelper: holds a CriticalSection for the guard's lifetime, with
// explicit leave and re-enter in between. Guards nest freely with other guards and with
// explicit enters of the same lock in the same thread.
//
// One thread at a time: a guard belongs to the thread that made it.
//
// 1. Leaving through a guard whose thread does not hold the lock is reported as a failed
//    check; the lock's own leave still runs (and reports its own check).
#ifndef QEL_OSDEP_CRITICALSECTIONRAIIHELPER_H_
#define QEL_OSDEP_CRITICALSECTIONRAIIHELPER_H_

#include <cstdint>

#include "qel/Noncopyable.h"
#include "qel/osdep/CriticalSection.h"
#include "qel/osdep/OutputAssertion.h"
#include "qel/osdep/ThreadAnnotations.h"

namespace vo::qel::osdep {

template <class Lock, bool>
class CriticalSectionRAIIHelper;

template <>
class QEL_SCOPED_CAPABILITY CriticalSectionRAIIHelper<CriticalSection, true> : public Noncopyable {
 public:
  explicit CriticalSectionRAIIHelper(const CriticalSection& cs) noexcept QEL_ACQUIRE(cs) : cs_(cs) {
    cs_.enter();
  }
  ~CriticalSectionRAIIHelper() noexcept QEL_RELEASE() { leave(); }

  void enter() noexcept QEL_ACQUIRE() { cs_.enter(); }
  void leave() noexcept QEL_RELEASE() {
    if (!cs_.inOwningThread()) {
      OutputAssertion("cs_.inOwningThread()", "Cannot leave CriticalSection if not in it!",
                      "osdep/CriticalSectionRAIIHelper", 76);
    }
    cs_.leave();
  }

 private:
  const CriticalSection& cs_;
};

}  // namespace vo::qel::osdep

#endif  // QEL_OSDEP_CRITICALSECTIONRAIIHELPER_H_
