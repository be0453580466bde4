// Encoding of wide text (one code point per 32-bit wchar_t element) into UTF-8.
//
// Pure functions of their arguments: any number of threads may call them at once.
//
// The encoder follows the six-byte UTF-8 of RFC 2279:
//  1. Elements are read as unsigned 32-bit values; 0 to 0x7FFFFFFF encode in one to
//     six bytes, surrogates and values above U+10FFFF like any other value.
//  2. An element above 0x7FFFFFFF is reported as a failed check and becomes one '?'
//     byte, in every path: measuring counts it as 1, converting writes '?'.
//  3. A measured size always equals what the filling loop writes for the same text.
//  4. The buffer-filling forms write no terminator; the allocating forms return an
//     array made with new[] and ended by one 0 byte, owned by the caller.
#ifndef QEL_WIDETOUTF8_H_
#define QEL_WIDETOUTF8_H_

#include <cstddef>

namespace vo::qel {

// Encodes the zero-terminated `text` into a new zero-terminated byte array.
// REQUIRES: text != nullptr (a null one is taken as the empty text).
unsigned char* WideToUtf8(const wchar_t* text);

// Encodes [begin, end) into a new zero-terminated byte array; a null `begin` gives an
// array holding only the terminator. Throws OutOfRange when the size overflows.
unsigned char* WideToUtf8(const wchar_t* begin, const wchar_t* end);

// Encodes [begin, end) into [destBegin, destEnd) and returns the bytes written.
// Throws InvalidArgument for a null or inverted destination and BufferOverflow when
// the whole source does not fit.
size_t WideToUtf8(const wchar_t* begin, const wchar_t* end, unsigned char* destBegin,
                  const unsigned char* destEnd);

// As above, but stops quietly before the first character whose encoding does not
// fit whole, leaving `begin` at that character.
size_t WideToUtf8NoOverflow(const wchar_t*& begin, const wchar_t* end, unsigned char* destBegin,
                            const unsigned char* destEnd);

// Bytes the UTF-8 form of the zero-terminated `text` needs, terminator not counted.
// REQUIRES: text != nullptr (a null one counts 0).
size_t GetUtf8EncodingBytes(const wchar_t* text);

// The same for [begin, end); a null `begin` counts 0.
size_t GetUtf8EncodingBytes(const wchar_t* begin, const wchar_t* end);

// Bytes of the longest run of whole characters from `begin` whose encoding fits in
// `limit` bytes. A limit that cuts the text is reported as a failed check.
size_t GetUtf8EncodingBytesWithBufferLimit(const wchar_t* begin, const wchar_t* end, size_t limit);

}  // namespace vo::qel

#endif  // QEL_WIDETOUTF8_H_
