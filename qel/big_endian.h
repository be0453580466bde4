// Big-endian byte order: reversing copies between a machine (little-endian) value and
// its big-endian bytes, for forms such as file scalars that a caller asks to have in
// big-endian order.
//
// Stateless; any thread may call them.
//
// Like the little-endian helpers, every source file that includes this header checks
// once at load time that the machine is little-endian, since the copies below assume it.
#ifndef QEL_BIG_ENDIAN_H_
#define QEL_BIG_ENDIAN_H_

#include <cstddef>

#include "qel/little_endian.h"

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

// The load-time check is the little-endian helpers' own: including their header puts
// one in every file that includes this one.
using little_endian::LittleEndianChecker;

}  // namespace vo::qel::big_endian

#endif  // QEL_BIG_ENDIAN_H_
