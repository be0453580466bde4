// Big-endian byte order: reversing copies between a machine (little-endian) value and
// its big-endian bytes, and the conversions of a 32-bit value to and from big-endian
// order, for forms such as file scalars that a caller asks to have in that order.
//
// Stateless; any thread may call them.
//
// The reversals assume a little-endian machine. Every source file that includes this
// header checks that once when the library loads (its own LittleEndianChecker below,
// reporting under this unit's name) and reports a failed check otherwise.
#ifndef QEL_BIG_ENDIAN_H_
#define QEL_BIG_ENDIAN_H_

#include <cstddef>

#include "qel/IntegerTypes.h"

namespace vo::qel::big_endian {

// destination[i] = source[size - 1 - i]: the `size` bytes of a little-endian value in
// big-endian order. REQUIRES: the two ranges do not overlap.
inline void CopyToBigEndian(size_t size, void* destination, const void* source) noexcept {
  unsigned char* to = static_cast<unsigned char*>(destination);
  const unsigned char* from = static_cast<const unsigned char*>(source);
  for (size_t i = 0; i < size; ++i) to[i] = from[size - 1 - i];
}

// destination[size - 1 - i] = source[i]: the inverse of CopyToBigEndian.
// REQUIRES: the two ranges do not overlap.
inline void CopyFromBigEndian(size_t size, void* destination, const void* source) noexcept {
  unsigned char* to = static_cast<unsigned char*>(destination);
  const unsigned char* from = static_cast<const unsigned char*>(source);
  for (size_t i = 0; i < size; ++i) to[size - 1 - i] = from[i];
}

// A 32-bit value in big-endian byte order: stored as it comes back, its bytes are the
// most significant first.
inline UInt32 ToBigEndian(UInt32 value) noexcept {
  UInt32 big;
  CopyToBigEndian(sizeof(big), &big, &value);
  return big;
}

// The value whose big-endian bytes are stored in `big`: the inverse of ToBigEndian.
inline UInt32 FromBigEndian(UInt32 big) noexcept {
  UInt32 value;
  CopyFromBigEndian(sizeof(value), &value, &big);
  return value;
}

// Reports the failed check "littleEndianTest.dw == 0x12345678" (source big_endian)
// when the machine does not store the least significant byte of a word first.
class LittleEndianChecker {
 public:
  LittleEndianChecker() noexcept;
};

// One check per source file that includes this header, run when the library loads.
static const LittleEndianChecker gLittleEndianChecker;

}  // namespace vo::qel::big_endian

#endif  // QEL_BIG_ENDIAN_H_
