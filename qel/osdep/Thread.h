// Thread: an abstract joinable thread whose body is the virtual proc(), with a nine-step
// priority scale mapped onto the scheduling priorities of the thread's policy.
//
// One owner thread at a time starts, reprioritises and cleans up a Thread; proc() runs on
// the thread it starts. Any number of threads may wait for it to end: it is joined once.
//
// 1. start() returns only after the system thread exists, and proc() begins only after
//    start() has returned, so the body always sees its own thread id.
// 2. A derived class calls cleanup() in its destructor: by the time the base destructor
//    runs the derived part that proc() uses is gone, and the base never joins.
// 3. A thread keeps its scheduling policy: priorities are applied within it, and a
//    priority outside the policy's range is refused by the system (PosixError, EINVAL).
// 4. Misuse (a second start, a call before start, a thread joining itself) is reported as
//    a failed check; the call then goes on, never joining or touching a thread that does
//    not exist (such priority calls throw PosixError with ESRCH).
#ifndef QEL_OSDEP_THREAD_H_
#define QEL_OSDEP_THREAD_H_

#include <pthread.h>

#include <array>
#include <atomic>
#include <cstdint>

#include "qel/osdep/CriticalSection.h"

namespace vo::qel::osdep {

// A native priority: the scheduling policy in the upper 16 bits, the POSIX priority
// (sched_param.sched_priority) in the lower 16.
using PriorityMap = std::array<int32_t, 9>;

namespace detail {
// The nine native priorities of `policy`, lowest first, for a policy whose priorities run
// from `min` to `max` and whose threads start at `def` (taken as the middle of the range
// when outside it): the ends twice, the default in the middle, and steps between.
PriorityMap MakePriorityMap(int32_t policy, int32_t min, int32_t def, int32_t max) noexcept;
}  // namespace detail

void* thread_func(void* args);

class Thread {
 public:
  Thread();
  virtual ~Thread() noexcept;
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts the thread, named `name` (null: unnamed) for debuggers and the system's thread
  // list. `stackSize` 0 takes the system's default; otherwise it is the usable stack, the
  // guard pages come on top. Throws PosixError when the system refuses the stack size or
  // the thread.
  void start(const char* name, unsigned int stackSize);
  void start(unsigned int stackSize);
  // `secondName` is accepted and not used.
  void startEx(const char* name, const char* secondName, unsigned int stackSize);
  // Joins the thread if needed and makes the object startable again.
  void cleanup();
  // Joins the thread once; later and concurrent calls return when it has been joined.
  void waitForThreadToTerminate();

  static void yield();
  bool isCurrentThread() const;

  // `p` in -4 (lowest) .. 4 (highest), 0 the policy's default. Throws InvalidArgument
  // outside that range, PosixError when the system refuses.
  void setPriority(int p);
  // `index` in 0..8 of the priority map. Throws InvalidArgument outside that range.
  void setPriorityMapped(int index);
  // Applies the priority half of `native` within the thread's current policy; the policy
  // half is ignored. Throws PosixError when the system refuses.
  void setPriorityNative(int native);
  int getPriorityNative();
  // The lowest index 0..8 whose mapped priority reaches the thread's current one.
  int getPriorityMapped();
  // Rebuilds the priority map for the current policy.
  void populatePriorityMap();

 protected:
  // The thread's body; its result is the thread's exit value.
  virtual unsigned proc() = 0;

 private:
  friend void* thread_func(void* args);

  pthread_t thread_ = 0;
  // False from a successful start until the thread has been joined: whether `thread_`
  // names a thread that still has to be joined.
  std::atomic<bool> joined_{true};
  CriticalSection joinLock_;  // makes the join happen once
  CriticalSection runLock_;   // held by start() and, after it, by proc()
  int32_t policy_ = 0;        // the policy `priorityMap_` is built for
  bool initialized_ = false;  // from start() until cleanup()
  PriorityMap priorityMap_{};
};

}  // namespace vo::qel::osdep

#endif  // QEL_OSDEP_THREAD_H_
