// The string class family: one template, StringBase, and its four kinds
//   String       wide text, one UTF-32 code point per wchar_t element
//   ANSIString   text in the system's multibyte encoding
//   ASCIIString  7-bit ASCII text
//   Utf8String   UTF-8 bytes
// Every piece of text in the library (messages, paths, names) lives in one of them.
//
// One thread at a time per string; different strings may be used on different threads.
//
// Each string owns exactly one zero-terminated heap buffer obtained through the
// allocation wrappers of qel/DLLAlloc.h; there is no shared, copy-on-write or in-object
// buffer, so copying always allocates. Sizes and positions are unsigned 32-bit element
// counts. The storage is three pointers, and these invariants hold between operations:
//   1. begin_ <= end_ <= endStore_, and begin_ is never null (the empty string owns a
//      one-element buffer holding 0).
//   2. *end_ == 0, so c_str() is always valid; the text may hold 0 elements before end_.
//   3. The buffer holds endStore_ - begin_ + 1 elements: capacity() of text plus one
//      slot for the terminator.
//   4. length() is at most 0xFFFFFFFE (0x3FFFFFFE for String, whose buffer size in bytes
//      must also fit in 32 bits).
// Every accessor and every change checks them and reports a violation as a failed check
// (qel/osdep/OutputAssertion.h), then carries on. The check is one inlined test on the
// common path; only a violation leaves it.
//
// Positions passed past the end throw OutOfRange2 "String offset out of range"; every
// check made before an element moves leaves the string unchanged when it throws.
// Searches compare elements exactly; compare() and the relational operators ignore
// letter case, exactCompare() does not.
//
// The members are defined in StringBase.cpp and instantiated there for the four kinds,
// which keeps this header free of the exception headers (whose messages are
// ANSIStrings) and keeps the storage helpers private to that file. Only the accessors
// and the fast path of appending (room enough in the buffer) are inline, below the class.

#ifndef QEL_STRINGBASE_H_
#define QEL_STRINGBASE_H_

#include <cstddef>
#include <cstring>
#include <type_traits>

namespace vo::qel {

namespace detail {

// Which kinds convert from which as whole strings (specialised below the kinds):
// conversion partners implicitly, in both directions (String and ANSIString); the
// other pairs only through a constructor with a `reserved` first argument.
template <class To, class From>
struct IsConversionPartner : std::false_type {};
template <class To, class From>
struct IsBuiltAcrossKinds : std::false_type {};

template <class To, class From>
using EnableIfPartner = typename std::enable_if<IsConversionPartner<To, From>::value, int>::type;
template <class To, class From>
using EnableIfBuiltAcrossKinds =
    typename std::enable_if<IsBuiltAcrossKinds<To, From>::value, int>::type;

}  // namespace detail

// CharT is the stored element; OtherCharT the element type the kind converts from;
// Tag tells apart the two kinds that share both (ANSIString and ASCIIString).
template <typename CharT, typename OtherCharT, typename Tag>
class StringBase {
 public:
  using value_type = CharT;
  using size_type = unsigned int;
  using reference = CharT&;
  using const_reference = const CharT&;
  using iterator = CharT*;
  using const_iterator = const CharT*;

  // As a count: everything up to the end. As a search result: not found.
  static constexpr size_type npos = 0xFFFFFFFF;

  // Whether an operation that removes text may give unused memory back.
  enum BufferStrategy { KeepCapacity = 0, ReleaseUnused = 1 };

  // The empty string.
  StringBase();
  // Copy of the zero-terminated text `s`; null gives the empty string.
  // Implicit on purpose, so that literals can stand where a string is taken.
  StringBase(const CharT* s);
  // Copy of [begin, end). REQUIRES: begin and end non-null, begin <= end.
  StringBase(const CharT* begin, const CharT* end);
  // Copy of `n` elements from `s`, 0 elements included. REQUIRES: s non-null.
  StringBase(const CharT* s, size_type n);
  // `count` copies of `ch`.
  StringBase(size_type count, CharT ch);
  StringBase(const StringBase& that);
  // At most `n` elements of `that` from `pos` on; throws OutOfRange2 when
  // pos > that.size().
  StringBase(const StringBase& that, size_type pos, size_type n);
  // `a` followed by `b`, allocated exactly.
  StringBase(const StringBase& a, const StringBase& b);

  // No move operations: a moved-from string would need a fresh buffer of its own, so
  // moving would cost what copying costs.

  ~StringBase() noexcept;

  StringBase& operator=(const StringBase& that);
  // Null is taken as the empty text.
  StringBase& operator=(const CharT* s);

  // Replaces the text by `n` elements from `s` (null: the empty text). The buffer is
  // reallocated to exactly `n` when it is too small or more than half of it would go
  // unused, and kept otherwise. A source equal to c_str() leaves the string alone.
  StringBase& assign(const CharT* s, size_type n);

  // Appends `n` elements from `s` (null: nothing). Growth doubles the needed length,
  // so appending is amortised; appending a string's own text works.
  StringBase& append(const CharT* s, size_type n);
  // Appends the zero-terminated `s` (null: nothing).
  StringBase& append(const CharT* s);
  StringBase& append(const StringBase& that);
  // At most `n` elements of `that` from `pos` on. REQUIRES: pos <= that.size()
  // (throws OutOfRange2 otherwise). `that` may be this string.
  StringBase& append(const StringBase& that, size_type pos, size_type n);
  // `count` copies of `ch`.
  StringBase& append(size_type count, CharT ch);
  StringBase& operator+=(CharT ch);
  StringBase& operator+=(const CharT* s);
  StringBase& operator+=(const StringBase& that);
  // The concatenation, allocated exactly.
  StringBase operator+(const StringBase& that) const;
  StringBase operator+(const CharT* s) const;
  StringBase operator+(CharT ch) const;

  // Conversions from text of the other element type, OtherCharT: narrow text for
  // String, wide text for the other kinds. String and ANSIString go through the
  // system's multibyte encoding and ASCIIString through US-ASCII, both in the iconv
  // layer (qel/osdep/AnsiToWide.h); Utf8String through the UTF-8 codec
  // (qel/WideToUtf8.h, qel/Utf8ToWide.h). What a character the target cannot hold
  // becomes, and what malformed input throws, is the converter's; a conversion that
  // throws leaves no new string, or the string as it was. The buffer is as large as
  // the converter predicts, which may be more than the text it writes (narrow kinds
  // reserve 4 bytes per wide element).
  //
  // Null: the empty string.
  StringBase(const OtherCharT* s);
  // REQUIRES: begin and end non-null, begin <= end, fewer than 0xFFFFFFFF elements.
  StringBase(const OtherCharT* begin, const OtherCharT* end);
  // `n` elements, 0 elements included. REQUIRES: s non-null unless n is 0.
  StringBase(const OtherCharT* s, size_type n);
  // The old text survives a conversion that fails.
  StringBase& assign(const OtherCharT* s, size_type n);
  StringBase& operator=(const OtherCharT* s);  // null: the empty text
  StringBase& append(const OtherCharT* s);     // null: nothing
  StringBase& append(const OtherCharT* s, size_type n);
  StringBase& operator+=(const OtherCharT* s);
  StringBase operator+(const OtherCharT* s) const;

  // String and ANSIString convert each other as whole strings, implicitly, through
  // the system's multibyte encoding.
  template <class Kind, detail::EnableIfPartner<StringBase, Kind> = 0>
  StringBase(const Kind& that);
  template <class Kind, detail::EnableIfPartner<StringBase, Kind> = 0>
  StringBase& append(const Kind& that);
  // At most `n` elements of `that` from `pos` on. REQUIRES: pos <= that.size()
  // (throws OutOfRange2 otherwise).
  template <class Kind, detail::EnableIfPartner<StringBase, Kind> = 0>
  StringBase& append(const Kind& that, size_type pos, size_type n);
  template <class Kind, detail::EnableIfPartner<StringBase, Kind> = 0>
  StringBase& operator+=(const Kind& that);
  template <class Kind, detail::EnableIfPartner<StringBase, Kind> = 0>
  StringBase operator+(const Kind& that) const;

  // The other conversions of whole strings, each only where the target kind takes
  // it: String from ASCIIString (US-ASCII) or Utf8String (UTF-8), ASCIIString from
  // String (US-ASCII), Utf8String from ASCIIString (the bytes copied) or String
  // (UTF-8). 0 elements are converted too. REQUIRES: reserved == nullptr (reported
  // otherwise, then ignored); it keeps these constructors from converting implicitly.
  template <class Kind, detail::EnableIfBuiltAcrossKinds<StringBase, Kind> = 0>
  StringBase(const void* reserved, const Kind& that);

  const CharT* c_str() const;
  size_type length() const;
  size_type size() const;
  // Elements the buffer can hold without reallocation, the terminator not counted.
  size_type capacity() const;
  bool empty() const;

  iterator begin();
  iterator end();
  const_iterator begin() const;
  const_iterator end() const;

  // REQUIRES: index <= length() (length() gives the terminator). A larger index is
  // reported and answered with the terminator.
  reference operator[](size_type index);
  const_reference operator[](size_type index) const;

  // Exchanges the buffers; never allocates, never fails.
  void swap(StringBase& other) noexcept;

  // True when a 0 element comes before end().
  bool hasEmbeddedNull() const;

  // Makes capacity() at least `n`: exactly `n` when it was smaller. Never shrinks.
  void reserve(size_type n);

  // Three-way comparison without regard to letter case: negative, 0 or positive as
  // this text sorts before, with or after the other; only the sign is meaningful.
  // The forms taking a string compare the whole texts, 0 elements included; the forms
  // taking a pointer compare c_str() with the zero-terminated `s` (null: empty).
  // Case is folded by the comparison functions of qel/osdep: for narrow and wide
  // text the C library's toupper/towupper (the process locale), for UTF-8 the "C"
  // locale (a to z only). No comparison throws, whatever the texts: they serve
  // sorting and containers, where an exception would end the process.
  //
  // Utf8String: characters are decoded and compared by code point. A byte that does
  // not start a valid UTF-8 sequence where it stands never makes a comparison throw:
  // it compares as a character of its own that sorts after every valid character,
  // two such bytes by their values, so bad bytes still give one total, consistent
  // order (valid characters before them compare as usual).
  int compare(const StringBase& that) const noexcept;
  int compare(const CharT* s) const noexcept;
  // Compares the at most `n` elements from `pos` with the `len` elements at `s` (the
  // zero-terminated `s` when len is npos). REQUIRES: pos <= size() (throws
  // OutOfRange2 otherwise). Builds two temporary strings.
  int compare(size_type pos, size_type n, const CharT* s, size_type len = npos) const;
  // The same with regard to case.
  int exactCompare(const StringBase& that) const noexcept;
  int exactCompare(const CharT* s) const noexcept;

  // Case-insensitive, as compare().
  bool operator==(const StringBase& that) const noexcept { return compare(that) == 0; }
  bool operator!=(const StringBase& that) const noexcept { return compare(that) != 0; }
  bool operator<(const StringBase& that) const noexcept { return compare(that) < 0; }
  bool operator>(const StringBase& that) const noexcept { return compare(that) > 0; }
  bool operator==(const CharT* s) const noexcept { return compare(s) == 0; }
  bool operator!=(const CharT* s) const noexcept { return compare(s) != 0; }
  bool operator<(const CharT* s) const noexcept { return compare(s) < 0; }
  bool operator>(const CharT* s) const noexcept { return compare(s) > 0; }

  // Searches: a position, or npos when there is none. Elements compare exactly.
  // find: the first occurrence at or after `pos`; a pos at or past the end finds
  // nothing, not even the empty string, which is otherwise found at `pos`.
  size_type find(CharT ch, size_type pos = 0) const noexcept;
  size_type find(const StringBase& str, size_type pos = 0) const noexcept;
  // rfind: the last occurrence starting at or before `pos`.
  size_type rfind(CharT ch, size_type pos = npos) const noexcept;
  size_type rfind(const StringBase& str, size_type pos = npos) const noexcept;
  // The first element at or after `pos` that occurs (does not occur) in `set`.
  size_type find_first_of(const StringBase& set, size_type pos = 0) const noexcept;
  size_type find_first_not_of(const StringBase& set, size_type pos = 0) const noexcept;
  // The last element at or before `pos` that occurs (does not occur) in `set`, or
  // that equals (differs from) `ch`.
  size_type find_last_of(const StringBase& set, size_type pos = npos) const noexcept;
  size_type find_last_not_of(const StringBase& set, size_type pos = npos) const noexcept;
  size_type find_last_of(CharT ch, size_type pos = npos) const noexcept;
  size_type find_last_not_of(CharT ch, size_type pos = npos) const noexcept;

  // At most `n` elements from `pos` on, allocated exactly. Throws OutOfRange when
  // pos + n overflows (n other than npos). REQUIRES: pos <= length(); a larger pos
  // is reported as a failed check and gives the empty string.
  StringBase substr(size_type pos = 0, size_type n = npos) const;
  // Copies at most `n` elements from `pos` on to `dest`, without a terminator, and
  // returns how many. REQUIRES: pos <= size() (throws OutOfRange2 otherwise).
  size_type copy(CharT* dest, size_type n, size_type pos = 0) const;

  // Removes at most `n` elements from `pos` on. With ReleaseUnused the buffer is
  // then cut to the new length when more than half of it would go unused.
  // REQUIRES: pos <= size() (throws OutOfRange2 otherwise).
  StringBase& erase(size_type pos = 0, size_type n = npos, BufferStrategy strategy = ReleaseUnused);
  // Removes [first, last) and returns the position of the element after them (in
  // the buffer as it is after any reallocation).
  iterator erase(iterator first, iterator last, BufferStrategy strategy = ReleaseUnused);
  // Empties the string; ReleaseUnused gives the buffer back down to the terminator.
  void clear(BufferStrategy strategy = ReleaseUnused);
  // Cuts the text to `n` elements (with `strategy`) or extends it with copies of
  // `ch` (growing as appending does).
  void resize(size_type n, CharT ch, BufferStrategy strategy = ReleaseUnused);

  // Replaces at most `n` elements from `pos` on by at most `sublen` elements of
  // `str` from `subpos` on. The buffer is sized to the exact result when it must grow
  // or when more than half of it would go unused. Throws OutOfRange2 when pos >
  // size() or subpos > str.size(), and BoundExceeded2 when the result would be
  // 0xFFFFFFFF elements or longer; the string is then unchanged. `str` may be this
  // string.
  StringBase& replace(size_type pos, size_type n, const StringBase& str, size_type subpos = 0,
                      size_type sublen = npos);

  // Reports every violated invariant as a failed check; never throws.
  void checkInvariants() const noexcept;

  // Serialized form
  // A 4-byte little-endian count N followed by N payload bytes:
  //   ANSIString, ASCIIString  the text and one 0 byte, which N counts
  //   Utf8String               the bytes of the text
  //   String                   the UTF-8 encoding of the text
  // so the empty narrow string is 01 00 00 00 00 and the empty Utf8String or String
  // is 00 00 00 00. Defined in StringSerialization.cpp.

  // 4 + N. A text whose form would pass 0xFFFFFFFF bytes is reported and counted as
  // 0xFFFFFFFF; serialize() then writes it cut to fit.
  unsigned int serializationSize() const;
  // Writes the form at `out` and moves `out` past it. Throws BufferOverflow, writing
  // nothing, when fewer than serializationSize() bytes lie before `outEnd`.
  void serialize(unsigned char*& out, const unsigned char* outEnd) const;
  // Replaces the text by the one whose form starts at `in`, and moves `in` past it.
  // Malformed or cut input throws (DeserializationError; InvalidSequence for a String
  // payload that is not UTF-8) before anything changes: the string and `in` stay as
  // they were, nothing at or past `inEnd` is read, and nothing is allocated for a
  // count the input does not hold.
  void deserialize(const unsigned char*& in, const unsigned char* inEnd);

 private:
  void freeString() noexcept;

  // The parts of the inline members that run only off their common path.
  static bool InvariantsHold(const CharT* b, const CharT* e, const CharT* es) noexcept;
  static bool AppendKeepsInvariants(const CharT* b, const CharT* e, size_type n) noexcept;
  void reportBrokenInvariants() const noexcept;
  const_reference reportIndexPastEnd() const noexcept;
  // Appending with the invariants checked one by one, growing when needed.
  StringBase& appendChecked(const CharT* s, size_type n);
  StringBase& appendChecked(size_type count, CharT ch);

  CharT* begin_;
  CharT* end_;
  CharT* endStore_;
};

// The accessors and the common path of appending are inline: they run for every
// element a caller touches or adds, and a call into the library for each would cost
// more than the work itself.

template <typename CharT, typename OtherCharT, typename Tag>
inline bool StringBase<CharT, OtherCharT, Tag>::InvariantsHold(const CharT* b, const CharT* e,
                                                               const CharT* es) noexcept {
  // A length that is negative wraps to a huge size_t, so one unsigned comparison
  // checks both "end_ >= begin_" and the length limit.
  return __builtin_expect(b != nullptr && size_t(e - b) < 0xFFFFFFFFu && e <= es && *e == CharT(0),
                          1);
}

template <typename CharT, typename OtherCharT, typename Tag>
inline void StringBase<CharT, OtherCharT, Tag>::checkInvariants() const noexcept {
  if (!InvariantsHold(begin_, end_, endStore_)) reportBrokenInvariants();
}

template <typename CharT, typename OtherCharT, typename Tag>
inline const CharT* StringBase<CharT, OtherCharT, Tag>::c_str() const {
  checkInvariants();
  return begin_;
}

template <typename CharT, typename OtherCharT, typename Tag>
inline typename StringBase<CharT, OtherCharT, Tag>::size_type
StringBase<CharT, OtherCharT, Tag>::length() const {
  checkInvariants();
  return static_cast<size_type>(end_ - begin_);
}

template <typename CharT, typename OtherCharT, typename Tag>
inline typename StringBase<CharT, OtherCharT, Tag>::size_type
StringBase<CharT, OtherCharT, Tag>::size() const {
  return length();
}

template <typename CharT, typename OtherCharT, typename Tag>
inline typename StringBase<CharT, OtherCharT, Tag>::size_type
StringBase<CharT, OtherCharT, Tag>::capacity() const {
  checkInvariants();
  return static_cast<size_type>(endStore_ - begin_);
}

template <typename CharT, typename OtherCharT, typename Tag>
inline bool StringBase<CharT, OtherCharT, Tag>::empty() const {
  checkInvariants();
  return end_ == begin_;
}

template <typename CharT, typename OtherCharT, typename Tag>
inline CharT* StringBase<CharT, OtherCharT, Tag>::begin() {
  checkInvariants();
  return begin_;
}

template <typename CharT, typename OtherCharT, typename Tag>
inline CharT* StringBase<CharT, OtherCharT, Tag>::end() {
  checkInvariants();
  return end_;
}

template <typename CharT, typename OtherCharT, typename Tag>
inline const CharT* StringBase<CharT, OtherCharT, Tag>::begin() const {
  checkInvariants();
  return begin_;
}

template <typename CharT, typename OtherCharT, typename Tag>
inline const CharT* StringBase<CharT, OtherCharT, Tag>::end() const {
  checkInvariants();
  return end_;
}

template <typename CharT, typename OtherCharT, typename Tag>
inline CharT& StringBase<CharT, OtherCharT, Tag>::operator[](size_type index) {
  checkInvariants();
  if (__builtin_expect(index > size_type(end_ - begin_), 0)) {
    // Answered with the terminator, so a caller's mistake stays inside the buffer.
    return const_cast<CharT&>(reportIndexPastEnd());
  }
  return begin_[index];
}

template <typename CharT, typename OtherCharT, typename Tag>
inline const CharT& StringBase<CharT, OtherCharT, Tag>::operator[](size_type index) const {
  checkInvariants();
  if (__builtin_expect(index > size_type(end_ - begin_), 0)) return reportIndexPastEnd();
  return begin_[index];
}

// Appending with room in the buffer: the checks of the invariants on entry and on
// exit are one combined test on the common path. Given the room, both hold exactly
// when begin_ is set, the length after the append is below the limit (so the
// length before it too, and end_ >= begin_) and the terminator is in place: "end_ <=
// endStore_" follows from the room before and after, and the new terminator is
// written by the append itself. When the test fails, or there is no room, the
// members below run the checks one by one, so every violation is reported as it
// would be.
template <typename CharT, typename OtherCharT, typename Tag>
inline bool StringBase<CharT, OtherCharT, Tag>::AppendKeepsInvariants(const CharT* b,
                                                                      const CharT* e,
                                                                      size_type n) noexcept {
  return __builtin_expect(b != nullptr && size_t(e - b) < size_t(0xFFFFFFFFu) - n && *e == CharT(0),
                          1);
}

template <typename CharT, typename OtherCharT, typename Tag>
inline StringBase<CharT, OtherCharT, Tag>& StringBase<CharT, OtherCharT, Tag>::append(
    const CharT* s, size_type n) {
  // Copies of the pointers, so that the compiler need not read them back after a
  // char store (which might alias them).
  CharT* const b = begin_;
  CharT* const e = end_;
  // Signed room, so that a broken endStore_ takes the careful path.
  if (s != nullptr && endStore_ - e >= std::ptrdiff_t(n) && AppendKeepsInvariants(b, e, n)) {
    if (n == 1) {
      *e = *s;
    } else {
      std::memmove(e, s, size_t(n) * sizeof(CharT));
    }
    e[n] = CharT(0);
    end_ = e + n;
    return *this;
  }
  return appendChecked(s, n);
}

template <typename CharT, typename OtherCharT, typename Tag>
inline StringBase<CharT, OtherCharT, Tag>& StringBase<CharT, OtherCharT, Tag>::append(
    size_type count, CharT ch) {
  CharT* const b = begin_;
  CharT* const e = end_;
  if (endStore_ - e >= std::ptrdiff_t(count) && AppendKeepsInvariants(b, e, count)) {
    for (size_type i = 0; i < count; ++i) e[i] = ch;
    e[count] = CharT(0);
    end_ = e + count;
    return *this;
  }
  return appendChecked(count, ch);
}

// The whole of `that` from position 0: no position to check, so the counted append
// with its inline path does the same.
template <typename CharT, typename OtherCharT, typename Tag>
inline StringBase<CharT, OtherCharT, Tag>& StringBase<CharT, OtherCharT, Tag>::append(
    const StringBase& that) {
  return append(that.c_str(), that.length());
}

template <typename CharT, typename OtherCharT, typename Tag>
inline StringBase<CharT, OtherCharT, Tag>& StringBase<CharT, OtherCharT, Tag>::operator+=(
    const StringBase& that) {
  return append(that.c_str(), that.length());
}

template <typename CharT, typename OtherCharT, typename Tag>
inline StringBase<CharT, OtherCharT, Tag>& StringBase<CharT, OtherCharT, Tag>::operator+=(
    CharT ch) {
  // append(1, ch) with the room test for one element written as one comparison.
  CharT* const b = begin_;
  CharT* const e = end_;
  if (e < endStore_ && AppendKeepsInvariants(b, e, 1)) {
    e[0] = ch;
    e[1] = CharT(0);
    end_ = e + 1;
    return *this;
  }
  return appendChecked(1, ch);
}

// The four kinds. ANSIString and ASCIIString differ only in their conversions.
typedef StringBase<wchar_t, char, wchar_t> String;
typedef StringBase<char, wchar_t, wchar_t> ANSIString;
typedef StringBase<char, wchar_t, char> ASCIIString;
typedef StringBase<unsigned char, wchar_t, wchar_t> Utf8String;

namespace detail {

template <>
struct IsConversionPartner<String, ANSIString> : std::true_type {};
template <>
struct IsConversionPartner<ANSIString, String> : std::true_type {};
template <>
struct IsBuiltAcrossKinds<String, ASCIIString> : std::true_type {};
template <>
struct IsBuiltAcrossKinds<String, Utf8String> : std::true_type {};
template <>
struct IsBuiltAcrossKinds<ASCIIString, String> : std::true_type {};
template <>
struct IsBuiltAcrossKinds<Utf8String, ASCIIString> : std::true_type {};
template <>
struct IsBuiltAcrossKinds<Utf8String, String> : std::true_type {};

}  // namespace detail

extern template class StringBase<wchar_t, char, wchar_t>;
extern template class StringBase<char, wchar_t, wchar_t>;
extern template class StringBase<char, wchar_t, char>;
extern template class StringBase<unsigned char, wchar_t, wchar_t>;

namespace detail {

// Bytes taken by `count` elements of CharT (CharT is wchar_t, char or unsigned char).
// Throws OutOfRange when the byte count exceeds 0xFFFFFFFF, which for wchar_t means
// more than 0x3FFFFFFF elements.
template <typename CharT>
unsigned int CharactersToBytes(unsigned int count);

}  // namespace detail
}  // namespace vo::qel

#endif  // QEL_STRINGBASE_H_
