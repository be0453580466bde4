// SafeInteger: an unsigned integer whose arithmetic detects overflow. Every size
// computation that could wrap around (string lengths in bytes, buffer growth,
// allocation sizes) goes through it. An operation that overflows leaves the value
// unchanged and either throws OutOfRange or reports through a bool&.
//
// Values are plain; nothing is shared.
#ifndef QEL_SAFEINTEGER_H_
#define QEL_SAFEINTEGER_H_

#include <cstdint>
#include <limits>
#include <type_traits>

#include "qel/exception/Exception.h"

namespace vo::qel {

template <class T>
class SafeInteger {
  static_assert(std::is_unsigned<T>::value, "SafeInteger holds unsigned values");

 public:
  static constexpr T k_HIGH_BIT = T(1) << (std::numeric_limits<T>::digits - 1);

  // The product modulo 2^32; overflow when the exact product exceeds 0xFFFFFFFF.
  struct MultiplyWithOverflowCheckFunc {
    T operator()(T a, T b, bool& overflow) const noexcept {
      const uint64_t product = uint64_t(a) * uint64_t(b);
      overflow = product > 0xFFFFFFFFu;
      return static_cast<T>(product);
    }
  };

  // The product modulo 2^64. Operands that both fit in 32 bits cannot overflow, so
  // the division is paid only when one of them is wider.
  struct MultiplyWithOverflowCheck64BitFunc {
    T operator()(T a, T b, bool& overflow) const noexcept {
      overflow = false;
      if (a == 0 || b == 0) return 0;
      if ((a > 0xFFFFFFFFu || b > 0xFFFFFFFFu) && a > std::numeric_limits<T>::max() / b) {
        overflow = true;
      }
      return a * b;
    }
  };

  using MultiplyFunc = typename std::conditional<sizeof(T) <= 4, MultiplyWithOverflowCheckFunc,
                                                 MultiplyWithOverflowCheck64BitFunc>::type;

  SafeInteger() noexcept : value_(0) {}
  SafeInteger(T value) noexcept : value_(value) {}  // NOLINT: implicit on purpose
  SafeInteger& operator=(T value) noexcept {
    value_ = value;
    return *this;
  }

  T rawValue() const noexcept { return value_; }
  bool operator==(SafeInteger b) const noexcept { return value_ == b.value_; }
  bool operator>(SafeInteger b) const noexcept { return value_ > b.value_; }

  void addNoThrow(SafeInteger b, bool& overflow) noexcept {
    overflow = b.value_ > T(~value_);
    if (!overflow) value_ += b.value_;
  }
  void multiplyNoThrow(SafeInteger b, bool& overflow) noexcept {
    const T product = MultiplyFunc()(value_, b.value_, overflow);
    if (!overflow) value_ = product;
  }
  void multiplyByTwoNoThrow(bool& overflow) noexcept {
    overflow = (value_ & k_HIGH_BIT) != 0;
    if (!overflow) value_ <<= 1;
  }

  void add(SafeInteger b) {
    bool overflow;
    addNoThrow(b, overflow);
    ThrowIf(overflow, __LINE__);
  }
  void multiply(SafeInteger b) {
    bool overflow;
    multiplyNoThrow(b, overflow);
    ThrowIf(overflow, __LINE__);
  }
  void multiplyByTwo() {
    bool overflow;
    multiplyByTwoNoThrow(overflow);
    ThrowIf(overflow, __LINE__);
  }

  static SafeInteger Add(SafeInteger a, SafeInteger b) {
    a.add(b);
    return a;
  }
  static SafeInteger AddNoThrow(SafeInteger a, SafeInteger b, bool& overflow) noexcept {
    a.addNoThrow(b, overflow);
    return a;
  }
  static SafeInteger Multiply(SafeInteger a, SafeInteger b) {
    a.multiply(b);
    return a;
  }
  static SafeInteger MultiplyByTwo(SafeInteger a) {
    a.multiplyByTwo();
    return a;
  }

 private:
  static void ThrowIf(bool overflow, uint32_t line) {
    if (overflow) throw AddFileAndLineInfo(exception::OutOfRange(), "SafeInteger", line);
  }

  T value_;
};

}  // namespace vo::qel

#endif  // QEL_SAFEINTEGER_H_
