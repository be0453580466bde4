// Big-endian byte order: reversing copies between a machine (little-endian) value and
// its big-endian bytes, and the conversions of a 32-bit value to and from big-endian
// order, for forms such as file scalars that a caller asks to have in big-endian order.
//
// Stateless; any thread may call them.
//
// Like the little-endian helpers, every source file that includes this header checks
// once at load time that the machine is little-endian, since the copies below assume it.
#ifndef QEL_BIG_ENDIAN_H_
#define QEL_BIG_ENDIAN_H_

#include <cstddef>
#include <cstring>

#include "qel/IntegerTypes.h"
#include "qel/osdep/OutputAssertion.h"

namespace vo {
namespace qel {
namespace big_endian {

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

// `value` rearranged so that its four bytes in memory are the big-endian form:
// storing the result writes the most significant byte first.
inline UInt32 ToBigEndian(UInt32 value) noexcept {
  const unsigned char bytes[4] = {
      static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
      static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
  UInt32 stored;
  std::memcpy(&stored, bytes, sizeof(stored));
  return stored;
}

// The value whose big-endian form are the four bytes of `stored` as they lie in memory
// (for example as read from a file). The inverse of ToBigEndian.
inline UInt32 FromBigEndian(UInt32 stored) noexcept {
  unsigned char bytes[4];
  std::memcpy(bytes, &stored, sizeof(stored));
  return UInt32(bytes[0]) << 24 | UInt32(bytes[1]) << 16 | UInt32(bytes[2]) << 8 | UInt32(bytes[3]);
}

// Reports the failed check "littleEndianTest.dw == 0x12345678" when the machine does
// not store the least significant byte of a word first.
class LittleEndianChecker {
 public:
  LittleEndianChecker() noexcept {
    struct {
      unsigned char bytes[4];
      UInt32 dw;
    } littleEndianTest = {{0x78, 0x56, 0x34, 0x12}, 0};
    std::memcpy(&littleEndianTest.dw, littleEndianTest.bytes, sizeof(littleEndianTest.dw));
    if (littleEndianTest.dw != 0x12345678) {
      osdep::OutputAssertion("littleEndianTest.dw == 0x12345678", "", "big_endian", __LINE__);
    }
  }
};

// One check per source file that includes this header, run when the library loads.
static const LittleEndianChecker gLittleEndianChecker;

}  // namespace big_endian
}  // namespace qel
}  // namespace vo

#endif  // QEL_BIG_ENDIAN_H_
