// Host strings: conversions between the host's counted string handles (LStr, declared in
// lorvath.h) and the library's own string kinds.
// Thread-safe as long as no other thread changes the handle being read.
//
// Reading a handle never calls the host:
// 1. A null handle, a handle whose record pointer is null and a record whose count is 0
//    all read as the empty string.
// 2. Otherwise the result holds exactly the record's count bytes, zero bytes included,
//    copied without conversion.
// 3. A negative count is bad input: it throws InvalidArgument and nothing past the count
//    field is read.
#ifndef QEL_OB_STRING_H_
#define QEL_OB_STRING_H_

#include "lorvath.h"
#include "qel/StringBase.h"

namespace vo::qel::ob::string {

ANSIString LStrHandleToQelANSIString(LStr** handle);
ANSIString ConstLStrHToQelANSIString(const LStr* const* handle);

}  // namespace vo::qel::ob::string

#endif  // QEL_OB_STRING_H_
