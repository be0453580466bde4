// AtomicInt: a signed 32-bit counter whose every change is one atomic operation with a
// full memory barrier, for counts that threads share without a lock (reservations,
// references).
// Thread-safe: any thread may change or read the counter at any time.
//
// 1. increment() and decrement() return the value after the change, so of several
//    threads that change the counter at once exactly one sees any given value.
// 2. Arithmetic wraps in two's complement; nothing checks overflow.
#ifndef QEL_OSDEP_ATOMICINT_H_
#define QEL_OSDEP_ATOMICINT_H_

#include <cstdint>

namespace vo::qel::osdep {

class AtomicInt {
 public:
  explicit AtomicInt(int32_t initial) noexcept : value_(initial) {
    // Publish the initial value before the object's address can reach another thread.
    __atomic_thread_fence(__ATOMIC_SEQ_CST);
  }
  AtomicInt(const AtomicInt&) = delete;
  AtomicInt& operator=(const AtomicInt&) = delete;
  ~AtomicInt() noexcept = default;

  int32_t increment() noexcept { return __atomic_add_fetch(&value_, 1, __ATOMIC_SEQ_CST); }
  int32_t decrement() noexcept { return __atomic_sub_fetch(&value_, 1, __ATOMIC_SEQ_CST); }

  // A read that is ordered like a change: an atomic add of 0.
  int32_t getCount() const noexcept { return __atomic_fetch_add(&value_, 0, __ATOMIC_SEQ_CST); }

 private:
  // mutable: getCount() reads with a read-modify-write so that it is ordered like one.
  alignas(4) mutable int32_t value_;
};

}  // namespace vo::qel::osdep

#endif  // QEL_OSDEP_ATOMICINT_H_
