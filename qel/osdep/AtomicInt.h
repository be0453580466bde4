// AtomicInt: a signed 32-bit counter whose every operation is one atomic instruction with
// a full memory barrier, for counts that threads share without a lock (reservations,
// references).
// Thread-safe: any thread may change or read the counter at any time.
//
// 1. increment() and decrement() return the value after the change, so of several
//    threads that change the counter at once exactly one sees any given value.
// 2. Arithmetic wraps in two's complement; nothing checks overflow.
// 3. Reads (getCount() and the comparisons) are read-modify-writes, ordered like changes.
#ifndef QEL_OSDEP_ATOMICINT_H_
#define QEL_OSDEP_ATOMICINT_H_

#include <cstdint>

#include "qel/osdep/Interlocked.h"

namespace vo::qel::osdep {

class AtomicInt {
 public:
  explicit AtomicInt(int32_t initial) noexcept : value_(initial) {
    // Publish the initial value before the object's address can reach another thread.
    MemoryFence();
  }
  AtomicInt(const AtomicInt&) = delete;
  AtomicInt& operator=(const AtomicInt&) = delete;
  ~AtomicInt() noexcept = default;

  int32_t increment() noexcept { return InterlockedIncrement(&value_); }
  int32_t decrement() noexcept { return InterlockedDecrement(&value_); }

  // A read that is ordered like a change: an atomic add of 0.
  int32_t getCount() const noexcept { return __atomic_fetch_add(&value_, 0, __ATOMIC_SEQ_CST); }

  void replace(int32_t v) noexcept { replaceAndReturn(v); }
  // Stores `v` and returns the value it replaced. Lock-free, not wait-free.
  int32_t replaceAndReturn(int32_t v) noexcept {
    int32_t old = __atomic_load_n(&value_, __ATOMIC_RELAXED);
    for (;;) {
      const int32_t found = CompareExchangeMemory(&value_, old, v);
      if (found == old) return old;
      old = found;
    }
  }
  // Stores `exchange` if the counter holds `comparand`; returns what it held before.
  int32_t compareExchange(int32_t comparand, int32_t exchange) noexcept {
    return CompareExchangeMemory(&value_, comparand, exchange);
  }

  bool operator==(int32_t x) const noexcept { return getCount() == x; }
  bool operator!=(int32_t x) const noexcept { return getCount() != x; }
  bool operator>(int32_t x) const noexcept { return getCount() > x; }
  bool operator>=(int32_t x) const noexcept { return getCount() >= x; }

 private:
  // mutable: getCount() reads with a read-modify-write so that it is ordered like one.
  alignas(4) mutable int32_t value_;
};

}  // namespace vo::qel::osdep

#endif  // QEL_OSDEP_ATOMICINT_H_
