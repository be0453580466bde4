// Host strings: conversions between the host's counted string handles (LStr, declared in
// lorvath.h) and the library's string kinds and byte buffers, in the host's system
// encoding or in UTF-8; and the four conversions between string kinds they use.
// Thread-safe as long as no other thread changes the handle being read or written.
//
// Reading a handle never calls the host:
// 1. A null handle, a handle whose record pointer is null and a record whose count is 0
//    all read as the empty result.
// 2. Otherwise the result is made from exactly the record's count bytes, zero bytes
//    included; nothing past them is read.
// 3. A negative count is bad input: it throws InvalidArgument and nothing past the count
//    field is read.
// Writing a handle resizes it through the host's NumericArrayResize (also to 0 bytes),
// then writes the count and the bytes (no terminator):
// 4. A non-zero answer of the host throws OBErrorException with its code; a zero answer
//    that leaves no record (an engine that was withdrawn) throws NonexistentException.
//    Either way nothing is written through the handle.
// 5. A text longer than a count can say (2^31 - 1 bytes) throws OutOfRange before the
//    host is called.
// The system encoding counts as UTF-8 on this platform.
#ifndef QEL_OB_STRING_H_
#define QEL_OB_STRING_H_

#include <cstdint>

#include "lorvath.h"
#include "qel/AutoBuffer.h"
#include "qel/StringBase.h"

namespace vo::qel {

// UTF-8 through the codec; decoding errors are the codec's.
Utf8String StringToUtf8String(const String& s);
String Utf8StringToString(const Utf8String& s);
// Through wide text, to and from the system encoding.
ANSIString Utf8StringToANSIString(const Utf8String& s);
Utf8String ANSIStringToUtf8String(const ANSIString& s);

}  // namespace vo::qel

namespace vo::qel::ob::string {

enum OBStringEncoding : int32_t {
  k_SYSTEM_ENCODING = 0,
  k_UTF8_ENCODING = 1,
};

// k_SYSTEM_ENCODING becomes k_UTF8_ENCODING when the system encoding is UTF-8 (always,
// here); k_UTF8_ENCODING stays; anything else is reported as a failed check and
// returned as it is, which sends the conversions down their system-encoding branch.
OBStringEncoding NormalizeOBStringEncoding(OBStringEncoding encoding);

ANSIString LStrHandleToQelANSIString(LStr** handle);
ANSIString ConstLStrHToQelANSIString(const LStr* const* handle);
String LStrHandleToQelString(LStr** handle);
String LStrHandleToQelString(LStr** handle, OBStringEncoding encoding);
Utf8String LStrHandleToUtf8String(LStr** handle, OBStringEncoding encoding);
AutoBuffer LStrHandleToAutoBuffer(LStr** handle);

// `handle` is the caller's handle variable; it may hold null, and on return holds the
// handle that carries the text.
void QelANSIStringToLStrHandle(const ANSIString& s, LStr**& handle);
void QelStringToLStrHandle(const String& s, LStr**& handle);
void QelStringToLStrHandle(const String& s, OBStringEncoding encoding, LStr**& handle);
void Utf8StringToLStrHandle(const Utf8String& s, OBStringEncoding encoding, LStr**& handle);
void BufferWrapperToLStrHandle(const BufferWrapper& w, LStr**& handle);

}  // namespace vo::qel::ob::string

#endif  // QEL_OB_STRING_H_
