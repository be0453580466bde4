// Decoding of UTF-8 into wide text (one code point per 32-bit wchar_t element).
//
// Pure functions of their arguments: any number of threads may call them at once.
//
// The decoder follows the six-byte UTF-8 of RFC 2279:
//  1. Code points 0 to 0x7FFFFFFF are accepted in one to six bytes; surrogates and
//     values above U+10FFFF decode like any other value.
//  2. Overlong forms, lone continuation bytes, the lead bytes 0xC0, 0xC1, 0xFE and
//     0xFF, and sequences cut by the end of the range throw
//     exception::InvalidSequence.
//  3. No byte at or past `end` is ever read; zero bytes are ordinary characters.
//  4. The buffer-filling forms write no terminator; the allocating form returns an
//     array made with new[] and ended by one 0 element, owned by the caller.
#ifndef QEL_UTF8TOWIDE_H_
#define QEL_UTF8TOWIDE_H_

#include <cstddef>

namespace vo::qel {

// Decodes the `length` bytes at `source` into a new zero-terminated array. A null
// `source` gives an array holding only the terminator. Throws InvalidSequence
// (before allocating) and OutOfRange when the element count overflows size_t.
wchar_t* Utf8ToWide(const unsigned char* source, size_t length);

// Decodes [begin, end) into [destBegin, destEnd) and returns the elements written.
// Throws InvalidArgument for a null or inverted destination, InvalidSequence (what
// was written stays) and BufferOverflow when the whole source does not fit.
size_t Utf8ToWide(const unsigned char* begin, const unsigned char* end, wchar_t* destBegin,
                  const wchar_t* destEnd);

// As above, but stops quietly when the destination is full. `begin` is left at the
// first byte not converted, also when an InvalidSequence is thrown.
size_t Utf8ToWideNoOverflow(const unsigned char*& begin, const unsigned char* end,
                            wchar_t* destBegin, const wchar_t* destEnd);

// Decodes one character into `out` and returns the position after it. At the end
// of the text (or with a null `begin`) sets `out` to 0 and returns `begin`.
const unsigned char* ConvertNextUtf8Character(const unsigned char* begin, const unsigned char* end,
                                              wchar_t& out);

// The number of code points in [begin, end); a null `begin` counts 0. Throws
// InvalidSequence, so a successful count also proves the range valid.
size_t GetUtf8StringLength(const unsigned char* begin, const unsigned char* end);

}  // namespace vo::qel

#endif  // QEL_UTF8TOWIDE_H_
