// Conversion between a named character set and wide text through the system's
// iconv. The wide side is always "UTF-32LE": wchar_t holds one code point, in the
// machine's (little-endian) byte order. This is the engine under AnsiToWide and
// WideToAnsi; callers normally use those.
//
// Stateless between calls (each call opens and closes its own descriptor); several
// threads may convert at once.
#ifndef QEL_OSDEP_ICONV_H_
#define QEL_OSDEP_ICONV_H_

namespace vo::qel::osdep {

// The iconv name of the wide character type: "UTF-32LE".
const char* GetWCharTypeCodeForIConv() noexcept;

// Converts the text from `begin` to `end`, in the character set `fromCharset`, into
// the elements from `outBegin` up to `outEnd`, in `toCharset`, and moves `outEnd`
// after the last element written. The empty name is the current locale's set.
//
// Every input unit that cannot be converted (an invalid or incomplete sequence, a
// character the target set lacks, a character too long for the room left) becomes
// one '?' element and conversion goes on with the next unit (one byte of narrow
// input, one element of wide input). Output that fills up before the input ends is
// reported as a failed check; what was converted stays.
//
// Instantiated for char to wchar_t and wchar_t to char. Throws InvalidLocale when
// iconv does not know one of the names; nothing is written then.
template <class SourceT, class TargetT>
void IConv(const SourceT* begin, const SourceT* end, const char* fromCharset, TargetT* outBegin,
           TargetT*& outEnd, const char* toCharset);

extern template void IConv<char, wchar_t>(const char*, const char*, const char*, wchar_t*,
                                          wchar_t*&, const char*);
extern template void IConv<wchar_t, char>(const wchar_t*, const wchar_t*, const char*, char*,
                                          char*&, const char*);

}  // namespace vo::qel::osdep

#endif  // QEL_OSDEP_ICONV_H_
