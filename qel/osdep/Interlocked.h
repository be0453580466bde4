// Atomic operations on a shared 32-bit location, each a single instruction with a full
// memory barrier (sequentially consistent), and a bare full barrier. AtomicInt is built
// on them; other code may call them directly.
//
// Thread-safe: any number of threads may operate on one location at once.
//
// 1. Arithmetic wraps in two's complement; nothing checks overflow.
// 2. A location that is not 4-byte aligned is reported as a failed check, and the
//    operation is performed anyway.
#ifndef QEL_OSDEP_INTERLOCKED_H_
#define QEL_OSDEP_INTERLOCKED_H_

#include <cstdint>

#include "qel/osdep/OutputAssertion.h"

namespace vo::qel::osdep {

namespace detail {

constexpr char kInterlockedIncrementFile[] = "osdep/InterlockedIncrement";
constexpr uint32_t kInterlockedIncrementLine = 55;
constexpr uint32_t kInterlockedDecrementLine = 82;
constexpr char kCompareExchangeFile[] = "osdep/CompareExchange";
constexpr uint32_t kCompareExchangeLine = 127;

inline void CheckAligned(volatile int32_t* loc, const char* file, uint32_t line) noexcept {
  if ((reinterpret_cast<uintptr_t>(loc) % 4) != 0) {
    OutputAssertion("(reinterpret_cast<uintptr_t>(loc) % 4) == 0", "", file, line);
  }
}

}  // namespace detail

// Orders every load and store before it against every one after it (mfence on x86-64).
inline void MemoryFence() noexcept { __atomic_thread_fence(__ATOMIC_SEQ_CST); }

// Adds 1 to *loc and returns the new value.
inline int32_t InterlockedIncrement(volatile int32_t* loc) noexcept {
  detail::CheckAligned(loc, detail::kInterlockedIncrementFile, detail::kInterlockedIncrementLine);
  return __atomic_add_fetch(loc, 1, __ATOMIC_SEQ_CST);
}

// Subtracts 1 from *loc and returns the new value.
inline int32_t InterlockedDecrement(volatile int32_t* loc) noexcept {
  detail::CheckAligned(loc, detail::kInterlockedIncrementFile, detail::kInterlockedDecrementLine);
  return __atomic_sub_fetch(loc, 1, __ATOMIC_SEQ_CST);
}

// Stores `exchange` in *loc if *loc equals `comparand`; returns the value *loc held
// before, whether or not it was replaced.
inline int32_t CompareExchangeMemory(volatile int32_t* loc, int32_t comparand,
                                     int32_t exchange) noexcept {
  detail::CheckAligned(loc, detail::kCompareExchangeFile, detail::kCompareExchangeLine);
  __atomic_compare_exchange_n(loc, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return comparand;  // on failure the builtin stored the value it found here
}

}  // namespace vo::qel::osdep

#endif  // QEL_OSDEP_INTERLOCKED_H_
