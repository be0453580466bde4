// Event: a signalled/unsignalled flag that threads wait on, with auto reset (a wait that
// returns, or a check, clears it; a set wakes one waiter) or manual reset (it stays
// signalled until reset; a set wakes every waiter).
//
// Thread-safe: any number of threads may set, check and wait at once.
//
// 1. Time-outs are measured on a clock that the wall clock's changes do not move.
// 2. Waits tolerate spurious wake-ups: they return only when signalled or timed out.
// 3. A thread that has seen the event signalled may destroy it at once, even while the
//    set() that signalled it is still returning.
#ifndef QEL_OSDEP_EVENT_H_
#define QEL_OSDEP_EVENT_H_

#include <memory>

#include "qel/Noncopyable.h"

namespace vo::qel::osdep {

struct EventData;

class Event : public Noncopyable {
 public:
  // A wait of this many milliseconds has no limit.
  static constexpr unsigned int kInfinite = 0xFFFFFFFF;

  Event(bool manualReset, bool initialState);
  ~Event() noexcept;

  void set() const noexcept;
  void reset() const noexcept;
  // Clears the event only if it resets automatically.
  void resetIfAuto() noexcept;
  // The state; an auto-reset event is cleared by the read.
  bool check() const noexcept;
  // The state, never cleared.
  bool checkOnly() const noexcept;
  // Waits without limit until signalled.
  void wait() const noexcept;
  // Waits at most `milliseconds` (0: not at all, kInfinite: without limit); true when
  // signalled.
  bool wait(unsigned int milliseconds) const noexcept;

 private:
  const std::unique_ptr<EventData> data_;
};

}  // namespace vo::qel::osdep

#endif  // QEL_OSDEP_EVENT_H_
