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
// (qel/osdep/OutputAssertion.h), then carries on.
//
// The members are defined in StringBase.cpp and instantiated there for the four kinds,
// which keeps this header free of the exception headers (whose messages are
// ANSIStrings) and keeps the storage helpers private to that file.

#ifndef VO_QEL_STRINGBASE_H
#define VO_QEL_STRINGBASE_H

namespace vo {
namespace qel {

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

  CharT* begin_;
  CharT* end_;
  CharT* endStore_;
};

// The four kinds. ANSIString and ASCIIString differ only in their conversions.
typedef StringBase<wchar_t, char, wchar_t> String;
typedef StringBase<char, wchar_t, wchar_t> ANSIString;
typedef StringBase<char, wchar_t, char> ASCIIString;
typedef StringBase<unsigned char, wchar_t, wchar_t> Utf8String;

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
}  // namespace qel
}  // namespace vo

#endif  // VO_QEL_STRINGBASE_H
