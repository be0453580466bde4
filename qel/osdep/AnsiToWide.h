// Conversion between narrow text in a named character set and wide text (wchar_t,
// one code point per element, UTF-32 in machine order). The narrow string kinds
// convert through here: ANSIString with the empty name (the current locale's
// character set) and ASCIIString with "US-ASCII".
//
// Routes, chosen by the character-set name:
//   - "carbon": the system text encoding (UTF-8 here) through the small
//     CoreFoundation-like string layer of CFString.h;
//   - any other name: iconv (IConv.h). A unit that cannot be converted becomes one
//     '?' and conversion goes on; a name iconv does not know throws InvalidLocale.
//
// Forms, in each direction:
//   - required length: an upper bound of the output for a range;
//   - buffer filling (...NoAlloc): converts into the caller's elements from destBegin
//     up to destEnd, moves destEnd after the last element written, returns that
//     count, writes no terminator; output that does not fit is cut and reported as a
//     failed check;
//   - allocating: returns a zero-terminated array made with new[], owned by the
//     caller (delete[]); an empty range gives an array holding only the terminator.
//
// Conversions keep no state and may run on several threads at once. The switches
// (Make...Throw, Force...DebugEncoding) are plain process-wide values for tests; set
// them only while no other thread converts.
#ifndef QEL_OSDEP_ANSITOWIDE_H_
#define QEL_OSDEP_ANSITOWIDE_H_

#include <cstddef>

namespace vo::qel::osdep {

// Narrow to wide.

// `end - begin` elements: one per input byte, enough for any character set.
size_t GetAnsiToWideRequiredBufferLength(const char* begin, const char* end,
                                         const char* charset) noexcept;
size_t AnsiToWideNoAlloc(const char* begin, const char* end, const char* charset,
                         wchar_t* destBegin, wchar_t*& destEnd);
// `outEnd` points at the terminator.
void AnsiToWide(const char* begin, const char* end, const char* charset, wchar_t*& outBegin,
                wchar_t*& outEnd);
wchar_t* AnsiToWide(const char* begin, const char* end, const char* charset);
// The bytes of `text` up to its first zero byte or `byteCount` bytes, whichever
// comes first. REQUIRES: text != nullptr, byteCount >= 0.
wchar_t* AnsiToWide(const char* text, int byteCount, const char* charset);

// While on, every narrow-to-wide conversion that reaches the converter throws
// std::bad_alloc before reading its input. Returns the previous setting.
bool MakeAnsiToWideThrow(bool on) noexcept;

// Wide to narrow.

// 4 bytes per element (enough for every iconv set); for "carbon", the layer's
// maximum size for the active encoding.
size_t GetWideToAnsiRequiredBufferLength(const wchar_t* begin, const wchar_t* end,
                                         const char* charset) noexcept;
size_t WideToAnsiNoAlloc(const wchar_t* begin, const wchar_t* end, const char* charset,
                         char* destBegin, char*& destEnd);
// `outEnd` points at the terminator.
void WideToAnsi(const wchar_t* begin, const wchar_t* end, const char* charset, char*& outBegin,
                char*& outEnd);
char* WideToAnsi(const wchar_t* begin, const wchar_t* end, const char* charset);
// REQUIRES: text != nullptr (zero-terminated).
char* WideToAnsi(const wchar_t* text, const char* charset);

bool MakeWideToAnsiThrow(bool on) noexcept;

// The "carbon" route, also callable directly. Both convert into the destination
// from destBegin up to destEnd, move destEnd after the output and return its count.
// Narrow text that is not valid in the active encoding throws InvalidLocale; a
// character the active narrow encoding lacks comes out as '?'.
size_t CarbonAnsiToWide(const char* begin, const char* end, wchar_t* destBegin, wchar_t*& destEnd);
size_t CarbonWideToAnsi(const wchar_t* begin, const wchar_t* end, char* destBegin, char*& destEnd);
size_t GetCarbonWideToAnsiRequiredBufferLength(const wchar_t* begin, const wchar_t* end) noexcept;

// The encoding code the "carbon" route uses in one direction instead of the system
// encoding; 0 returns to the system encoding.
void ForceCarbonAnsiToWideDebugEncoding(unsigned int encoding) noexcept;
void ForceCarbonWideToAnsiDebugEncoding(unsigned int encoding) noexcept;

// The layer's encoding code of wide text (UTF-32LE).
unsigned int GetCFStringWcharEncoding() noexcept;

}  // namespace vo::qel::osdep

#endif  // QEL_OSDEP_ANSITOWIDE_H_
