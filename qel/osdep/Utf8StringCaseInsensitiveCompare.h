// Case-insensitive three-way comparison of UTF-8 text, the ordering of Utf8String's
// relational operators: code points are upper-cased by a default CharacterAttributes
// (the library's "C" locale, so only a-z change) and then ordered as in
// Utf8StringExactCompare.h, tails counted in bytes.
//
// Stateless; thread-safe. Malformed UTF-8 throws InvalidSequence.
#ifndef QEL_OSDEP_UTF8STRINGCASEINSENSITIVECOMPARE_H_
#define QEL_OSDEP_UTF8STRINGCASEINSENSITIVECOMPARE_H_

namespace vo::qel::osdep {

// Zero-terminated texts; a null pointer is the empty text.
int Utf8StringCaseInsensitiveCompare(const unsigned char* lhs, const unsigned char* rhs);

// Half-open ranges, zero bytes included.
// REQUIRES: lhs, rhs not null; lhs <= lhsEnd; rhs <= rhsEnd.
int Utf8StringCaseInsensitiveCompare(const unsigned char* lhs, const unsigned char* lhsEnd,
                                     const unsigned char* rhs, const unsigned char* rhsEnd);

}  // namespace vo::qel::osdep

#endif  // QEL_OSDEP_UTF8STRINGCASEINSENSITIVECOMPARE_H_
