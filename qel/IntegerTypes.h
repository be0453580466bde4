// Fixed-width integer names used where a value's width is part of a stored or
// transmitted form (length prefixes, file scalars), so that such code says "four
// bytes" rather than "whatever unsigned int is".
//
// Plain types; nothing shared.
#ifndef QEL_INTEGERTYPES_H_
#define QEL_INTEGERTYPES_H_

#include <cstdint>

namespace vo::qel {

typedef uint32_t UInt32;

static_assert(sizeof(UInt32) == 4, "a UInt32 is stored in exactly four bytes");

}  // namespace vo::qel

#endif  // QEL_INTEGERTYPES_H_
