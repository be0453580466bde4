// NumericCast: conversion between integer types that refuses, with OutOfRange, any
// value the target type cannot hold. Only the pairs the library needs are defined;
// another pair fails to compile.
//
// Stateless; thread-safe.
#ifndef QEL_NUMERICCAST_H_
#define QEL_NUMERICCAST_H_

#include <cstdint>
#include <limits>
#include <type_traits>

#include "qel/exception/Exception.h"

namespace vo::qel {
namespace detail {

[[noreturn]] inline void ThrowNumericCastOutOfRange(uint32_t line) {
  throw AddFileAndLineInfo(exception::OutOfRange(), "NumericCast", line);
}

// Narrowing between types of the same signedness.
template <class To, class From>
struct _down_cast {
  To operator()(From value) const {
    if (value < From(std::numeric_limits<To>::min()) ||
        value > From(std::numeric_limits<To>::max())) {
      ThrowNumericCastOutOfRange(__LINE__);
    }
    return static_cast<To>(value);
  }
};

// Unsigned to a signed type: only the non-negative range of the target.
template <class To, class From>
struct _UnsignedToSigned {
  To operator()(From value) const {
    if (value > From(std::numeric_limits<To>::max())) ThrowNumericCastOutOfRange(__LINE__);
    return static_cast<To>(value);
  }
};

}  // namespace detail

template <class To, class From>
struct _NumericCast;

template <>
struct _NumericCast<unsigned int, unsigned long> {
  static unsigned int convert(unsigned long v) {
    return detail::_down_cast<unsigned int, unsigned long>()(v);
  }
};

template <>
struct _NumericCast<int, long> {
  static int convert(long v) { return detail::_down_cast<int, long>()(v); }
};

template <>
struct _NumericCast<int, unsigned long> {
  static int convert(unsigned long v) { return detail::_UnsignedToSigned<int, unsigned long>()(v); }
};

template <class To, class From>
To NumericCast(From value) {
  return _NumericCast<To, From>::convert(value);
}

}  // namespace vo::qel

#endif  // QEL_NUMERICCAST_H_
