#include "qel/StringBase.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <functional>
#include <new>
#include <utility>

#include "qel/DLLAlloc.h"
#include "qel/NumericCast.h"
#include "qel/SafeInteger.h"
#include "qel/Utf8ToWide.h"
#include "qel/WideToUtf8.h"
#include "qel/exception/DetailedException.h"
#include "qel/exception/Exception.h"
#include "qel/osdep/AnsiToWide.h"
#include "qel/osdep/CharacterAttributes.h"
#include "qel/osdep/ExePath.h"
#include "qel/osdep/OutputAssertion.h"
#include "qel/osdep/StringCaseCompare.h"
#include "qel/osdep/StringExactCompare.h"
#include "qel/osdep/Utf8StringCompareInternal.h"

namespace vo::qel {
namespace {

const char kFileName[] = "StringBase";

typedef unsigned int SizeType;
typedef SafeInteger<unsigned int> SafeSize;

inline void Check(bool ok, const char* expression, const char* message, uint32_t line) noexcept {
  if (!ok) osdep::OutputAssertion(expression, message, kFileName, line);
}

// What every operation taking a start position throws when it lies past the end.
[[noreturn]] void ThrowOffsetOutOfRange(uint32_t line) {
  throw AddFileAndLineInfo(exception::OutOfRange2(ANSIString("String offset out of range")),
                           kFileName, line);
}

// Pointer order that holds for unrelated pointers too, so a caller's text can be
// tested for lying inside a string's own buffer.
template <typename CharT>
bool PointsInto(const CharT* p, const CharT* first, const CharT* last) noexcept {
  return std::less_equal<const CharT*>()(first, p) && std::less_equal<const CharT*>()(p, last);
}

template <typename CharT>
SizeType Distance(const CharT* first, const CharT* last) noexcept {
  return static_cast<SizeType>(last - first);
}

// ---------------------------------------------------------------------------
// Storage routines shared by every member of the family. They work on the three
// storage pointers of one string, passed by reference, and keep them consistent
// whenever they return or throw: an allocation that fails leaves them untouched.
// Every member that edits or converts text is defined in this file so that it can
// build on them (every append goes through Concatenate, every exact resize through
// ReallocBuffer).
// ---------------------------------------------------------------------------

template <typename CharT>
SizeType CharactersToBytesNoThrow(SizeType count, bool& overflow) noexcept {
  SafeSize bytes(count);
  bytes.multiplyNoThrow(SafeSize(static_cast<SizeType>(sizeof(CharT))), overflow);
  return bytes.rawValue();
}

// `n` + 1, for the terminator's slot; throws OutOfRange at 0xFFFFFFFF.
SizeType WithTerminator(SizeType n) { return SafeSize::Add(SafeSize(n), SafeSize(1)).rawValue(); }

// A buffer of `n` elements (the terminator's slot included by the caller).
template <typename CharT>
CharT* StringAlloc(SizeType n) {
  return static_cast<CharT*>(DLLMalloc(detail::CharactersToBytes<CharT>(n)));
}

// Copies `n` elements into a different buffer and terminates them.
template <typename CharT>
void StringCopy(CharT* dest, const CharT* source, SizeType n) noexcept {
  if (n != 0) std::memcpy(dest, source, size_t(n) * sizeof(CharT));
  dest[n] = CharT(0);
}

inline size_t RawLength(const char* s) noexcept { return std::strlen(s); }
inline size_t RawLength(const unsigned char* s) noexcept {
  return std::strlen(reinterpret_cast<const char*>(s));
}
inline size_t RawLength(const wchar_t* s) noexcept { return std::wcslen(s); }

// The library's own string test builds texts of 4 GiB on purpose and must not be
// interrupted by the report for each of them.
bool RunningStringTestProgram() noexcept {
  char path[4096];
  const size_t length = osdep::ReadExePath(path, sizeof(path));
  if (length == 0 || length >= sizeof(path)) return false;
  const char* slash = std::strrchr(path, '/');
  const char* name = slash != nullptr ? slash + 1 : path;
  return std::strcmp(name, "test_vo_qel_String") == 0;
}

// Elements before the first 0 of `str`.
template <typename CharT>
SizeType StringLength(const CharT* str) {
  Check(str != nullptr, "str", "", __LINE__);
  if (str == nullptr) return 0;
  const size_t len = RawLength(str);
  if (!(len < UINT_MAX) && !RunningStringTestProgram()) {
    osdep::OutputAssertion(
        "(len < UINT_MAX) || (vo::qel::osdep::GetExeBaseName() == L\"test_vo_qel_String\")",
        "String length is greater than UINT_MAX.", kFileName, __LINE__);
  }
  return NumericCast<SizeType>(len);
}

template <typename CharT>
const CharT* EnsureNonNull(const CharT* s) noexcept {
  static const CharT kEmpty[1] = {CharT(0)};
  return s != nullptr ? s : kEmpty;
}

// Gives the string a new buffer holding exactly the `n` elements at `source`
// (capacity == length). The previous pointers are overwritten, not freed.
template <typename CharT>
void Duplicate(const CharT* source, SizeType n, CharT*& begin_, CharT*& end_, CharT*& endStore_) {
  Check(source != nullptr, "source", "", __LINE__);
  if (source == nullptr) n = 0;
  CharT* buffer = StringAlloc<CharT>(WithTerminator(n));
  StringCopy(buffer, source, n);
  begin_ = buffer;
  end_ = endStore_ = buffer + n;
}

// Gives the string a new buffer of `count` copies of `ch` (capacity == length).
template <typename CharT>
void DuplicateFill(SizeType count, CharT ch, CharT*& begin_, CharT*& end_, CharT*& endStore_) {
  CharT* buffer = StringAlloc<CharT>(WithTerminator(count));
  std::fill(buffer, buffer + count, ch);
  buffer[count] = CharT(0);
  begin_ = buffer;
  end_ = endStore_ = buffer + count;
}

// Grows the buffer to hold at least `needed` elements: twice that when possible,
// exactly that when doubling overflows or the larger block cannot be had. Only the
// exact request throws (std::bad_alloc, or OutOfRange when even it is too large).
template <typename CharT>
void Grow(SizeType needed, CharT*& begin_, CharT*& end_, CharT*& endStore_) {
  const SizeType length = Distance(begin_, end_);
  CharT* buffer = nullptr;
  SizeType capacity = 0;

  bool overflow = false;
  SafeSize doubled(needed);
  doubled.multiplyByTwoNoThrow(overflow);
  if (!overflow) {
    const SafeSize elements = SafeSize::AddNoThrow(doubled, SafeSize(1), overflow);
    if (!overflow) {
      const SizeType bytes = CharactersToBytesNoThrow<CharT>(elements.rawValue(), overflow);
      if (!overflow) {
        buffer = static_cast<CharT*>(DLLReallocNoThrow(begin_, bytes));
        capacity = doubled.rawValue();
      }
    }
  }
  if (buffer == nullptr) {
    const SizeType bytes = detail::CharactersToBytes<CharT>(WithTerminator(needed));
    buffer = static_cast<CharT*>(DLLRealloc(begin_, bytes));
    capacity = needed;
  }
  begin_ = buffer;
  end_ = buffer + length;
  endStore_ = buffer + capacity;
}

// Appends `n` elements from `source`, growing when the free room is too small.
// `source` may lie inside the string's own buffer (appending the string to itself).
template <typename CharT>
void Concatenate(const CharT* source, SizeType n, CharT*& begin_, CharT*& end_, CharT*& endStore_) {
  Check(source != nullptr, "source", "", __LINE__);
  Check(end_ <= endStore_, "end <= endStore", "", __LINE__);
  if (source == nullptr) return;

  const bool ownText = PointsInto<CharT>(source, begin_, endStore_);
  const SizeType offset = ownText ? Distance<CharT>(begin_, source) : 0;
  if (Distance<CharT>(end_, endStore_) < n) {
    const SizeType needed =
        SafeSize::Add(SafeSize(Distance<CharT>(begin_, end_)), SafeSize(n)).rawValue();
    Grow(needed, begin_, end_, endStore_);
    if (ownText) source = begin_ + offset;
  }
  if (n != 0) std::memmove(end_, source, size_t(n) * sizeof(CharT));
  end_ += n;
  *end_ = CharT(0);
}

// Appends `count` copies of `ch`, growing when the free room is too small.
template <typename CharT>
void Concatenate(SizeType count, CharT ch, CharT*& begin_, CharT*& end_, CharT*& endStore_) {
  Check(end_ <= endStore_, "end <= endStore", "", __LINE__);
  if (Distance<CharT>(end_, endStore_) < count) {
    const SizeType needed =
        SafeSize::Add(SafeSize(Distance<CharT>(begin_, end_)), SafeSize(count)).rawValue();
    Grow(needed, begin_, end_, endStore_);
  }
  if (count == 1) {
    *end_ = ch;  // the common case of growth: one element; no call into memset
  } else {
    std::fill(end_, end_ + count, ch);
  }
  end_ += count;
  *end_ = CharT(0);
}

// The shrink-or-grow rule of assignment: reallocate when the text will not fit, or
// when more than half of the buffer would stay unused.
inline bool ShouldReallocBuffer(SizeType currentCapacity, SizeType needed) noexcept {
  return needed > currentCapacity || uint64_t(needed) * 2 < currentCapacity;
}

// Adjusts the buffer to exactly `n` elements when ShouldReallocBuffer says so. The text
// is kept up to `n` elements (cut and terminated when it was longer), so the string
// stays valid; callers then write the new text and set end_.
template <typename CharT>
void ReallocBuffer(CharT*& begin_, CharT*& end_, CharT*& endStore_, SizeType n) {
  if (!ShouldReallocBuffer(Distance<CharT>(begin_, endStore_), n)) return;
  SizeType length = Distance<CharT>(begin_, end_);
  const SizeType bytes = detail::CharactersToBytes<CharT>(WithTerminator(n));
  CharT* buffer = static_cast<CharT*>(DLLRealloc(begin_, bytes));
  if (length > n) {
    length = n;
    buffer[n] = CharT(0);
  }
  begin_ = buffer;
  end_ = buffer + length;
  endStore_ = buffer + n;
}

// ---------------------------------------------------------------------------
// Element scans behind the searches: the C library's memchr, memrchr and wmemchr do
// the plain forward and backward scans, a word at a time.
// ---------------------------------------------------------------------------

// The first element equal to `ch` in [first, last), or `last`.
template <typename CharT>
const CharT* FindElement(const CharT* first, const CharT* last, CharT ch) noexcept {
  const void* found = std::memchr(first, static_cast<unsigned char>(ch), size_t(last - first));
  return found != nullptr ? static_cast<const CharT*>(found) : last;
}

template <>
const wchar_t* FindElement<wchar_t>(const wchar_t* first, const wchar_t* last,
                                    wchar_t ch) noexcept {
  const wchar_t* found = std::wmemchr(first, ch, size_t(last - first));
  return found != nullptr ? found : last;
}

// The last element equal to `ch` in [first, last), or null.
template <typename CharT>
const CharT* FindLastElement(const CharT* first, const CharT* last, CharT ch) noexcept {
  return static_cast<const CharT*>(
      ::memrchr(first, static_cast<unsigned char>(ch), size_t(last - first)));
}

template <>
const wchar_t* FindLastElement<wchar_t>(const wchar_t* first, const wchar_t* last,
                                        wchar_t ch) noexcept {
  while (last != first) {
    if (*--last == ch) return last;
  }
  return nullptr;
}

template <typename CharT>
bool Contains(const CharT* first, const CharT* last, CharT ch) noexcept {
  return FindElement(first, last, ch) != last;
}

template <typename CharT>
bool SameElements(const CharT* a, const CharT* b, SizeType n) noexcept {
  return n == 0 || std::memcmp(a, b, size_t(n) * sizeof(CharT)) == 0;
}

// ---------------------------------------------------------------------------
// Comparison of texts, exact or without regard to case, through the comparison
// functions of each element type. None of these throws: compare() and the
// relational operators are used where an exception would end the process (sorting,
// destructors of containers), so every way those functions can throw is kept out.
// ---------------------------------------------------------------------------

enum CaseRule { k_EXACT, k_IGNORE_CASE };

// The difference of two lengths, left minus right, kept within an int.
int LengthDifference(size_t left, size_t right) noexcept {
  if (left >= right) return left - right > size_t(INT_MAX) ? INT_MAX : int(left - right);
  return right - left > size_t(INT_MAX) ? -INT_MAX : -int(right - left);
}

// Narrow and wide texts: the comparison function on the common length, then the
// lengths. That is what the function answers for the whole ranges, except that it
// throws when the lengths differ by more than an int holds.
template <typename CharT>
int CompareRanges(CaseRule rule, const CharT* a, size_t aLength, const CharT* b,
                  size_t bLength) noexcept {
  const size_t common = std::min(aLength, bLength);
  const int order = rule == k_IGNORE_CASE ? osdep::StringCaseCompare(a, a + common, b, b + common)
                                          : osdep::StringExactCompare(a, a + common, b, b + common);
  return order != 0 ? order : LengthDifference(aLength, bLength);
}

template <typename CharT>
int CompareTerminated(CaseRule rule, const CharT* a, const CharT* b) noexcept {
  return rule == k_IGNORE_CASE ? osdep::StringCaseCompare(a, b) : osdep::StringExactCompare(a, b);
}

// UTF-8 texts, bad bytes included, in the order the Utf8String header gives.
int CompareRanges(CaseRule rule, const unsigned char* a, size_t aLength, const unsigned char* b,
                  size_t bLength) noexcept {
  ptrdiff_t order;
  if (rule == k_IGNORE_CASE) {
    const osdep::CharacterAttributes<wchar_t> attributes;
    order = osdep::CompareUtf8Units(a, a + aLength, b, b + bLength, &attributes).order;
  } else {
    order = osdep::CompareUtf8Units(a, a + aLength, b, b + bLength, nullptr).order;
  }
  return order > INT_MAX ? INT_MAX : order < -INT_MAX ? -INT_MAX : int(order);
}

int CompareTerminated(CaseRule rule, const unsigned char* a, const unsigned char* b) noexcept {
  b = EnsureNonNull(b);
  return CompareRanges(rule, a, RawLength(a), b, RawLength(b));
}

// ---------------------------------------------------------------------------
// Conversion between element types. Each pair of source and target element types
// has one converter: the iconv layer between narrow text in a named character set
// and wide text, the UTF-8 codec between UTF-8 and wide text. Each answers how many
// target elements a source range needs, then converts into room of exactly that
// size and says where its output ends.
// ---------------------------------------------------------------------------

// The character set of the narrow side of a conversion: US-ASCII when an
// ASCIIString takes part, otherwise the system's (the empty name).
const char kSystemCharset[] = "";
const char kAsciiCharset[] = "US-ASCII";

template <typename SourceT, typename TargetT>
struct Converter;

template <>
struct Converter<char, wchar_t> {
  static size_t RequiredLength(const char* begin, const char* end, const char* charset) {
    return osdep::GetAnsiToWideRequiredBufferLength(begin, end, charset);
  }
  static wchar_t* Convert(const char* begin, const char* end, const char* charset, wchar_t* dest,
                          wchar_t* destEnd) {
    osdep::AnsiToWideNoAlloc(begin, end, charset, dest, destEnd);
    return destEnd;
  }
};

template <>
struct Converter<wchar_t, char> {
  static size_t RequiredLength(const wchar_t* begin, const wchar_t* end, const char* charset) {
    return osdep::GetWideToAnsiRequiredBufferLength(begin, end, charset);
  }
  static char* Convert(const wchar_t* begin, const wchar_t* end, const char* charset, char* dest,
                       char* destEnd) {
    osdep::WideToAnsiNoAlloc(begin, end, charset, dest, destEnd);
    return destEnd;
  }
};

template <>
struct Converter<unsigned char, wchar_t> {
  static size_t RequiredLength(const unsigned char* begin, const unsigned char* end, const char*) {
    return GetUtf8StringLength(begin, end);
  }
  static wchar_t* Convert(const unsigned char* begin, const unsigned char* end, const char*,
                          wchar_t* dest, wchar_t* destEnd) {
    return dest + Utf8ToWide(begin, end, dest, destEnd);
  }
};

template <>
struct Converter<wchar_t, unsigned char> {
  static size_t RequiredLength(const wchar_t* begin, const wchar_t* end, const char*) {
    return GetUtf8EncodingBytes(begin, end);
  }
  static unsigned char* Convert(const wchar_t* begin, const wchar_t* end, const char*,
                                unsigned char* dest, unsigned char* destEnd) {
    return dest + WideToUtf8(begin, end, dest, destEnd);
  }
};

// Target elements that [begin, end) converts to; throws OutOfRange beyond 32 bits.
template <typename SourceT, typename TargetT>
SizeType GetConvertedStringLength(const SourceT* begin, const SourceT* end, const char* charset) {
  return NumericCast<SizeType>(Converter<SourceT, TargetT>::RequiredLength(begin, end, charset));
}

// Converts [begin, end) into the room from `destination` up to `destinationEnd`,
// which is as much as GetConvertedStringLength predicted, and returns the end of
// what was written. The converters never write past the prediction; should one
// claim to, that is reported and the claim cut back.
template <typename SourceT, typename TargetT>
TargetT* StringCopyAndConvert(const SourceT* begin, const SourceT* end, const char* charset,
                              TargetT* destination, TargetT* destinationEnd) {
  TargetT* written =
      Converter<SourceT, TargetT>::Convert(begin, end, charset, destination, destinationEnd);
  const bool inRoom = destination <= written && written <= destinationEnd;
  Check(inRoom, "end <= endStore", "The conversion wrote more than it predicted.", __LINE__);
  return inRoom ? written : destinationEnd;
}

// Gives the string a new buffer holding the conversion of the `len` elements at
// `source`, as large as the converter predicts. The previous pointers are
// overwritten, not freed; nothing changes when the conversion throws.
template <typename SourceT, typename TargetT>
void Convert(const SourceT* source, SizeType len, const char* charset, TargetT*& begin_,
             TargetT*& end_, TargetT*& endStore_) {
  Check(len == 0 || source != nullptr, "(len == 0) || (source != 0)", "", __LINE__);
  if (len == 0 || source == nullptr) {
    Duplicate(EnsureNonNull<TargetT>(nullptr), 0, begin_, end_, endStore_);
    return;
  }
  const SizeType required =
      GetConvertedStringLength<SourceT, TargetT>(source, source + len, charset);
  TargetT* buffer = StringAlloc<TargetT>(WithTerminator(required));
  TargetT* written;
  try {
    written = StringCopyAndConvert(source, source + len, charset, buffer, buffer + required);
  } catch (...) {
    DLLFree(buffer);
    throw;
  }
  begin_ = buffer;
  end_ = written;
  endStore_ = buffer + required;
  *end_ = TargetT(0);
}

// Appends the conversion of the `len` elements at `source`, growing (by doubling)
// when the predicted length does not fit the free room. A conversion that throws
// leaves the text as it was.
template <typename SourceT, typename TargetT>
void ConvertAndConcatenate(const SourceT* source, SizeType len, const char* charset,
                           TargetT*& begin_, TargetT*& end_, TargetT*& endStore_) {
  Check(begin_ <= end_, "begin <= end", "", __LINE__);
  Check(end_ <= endStore_, "end <= endStore", "", __LINE__);
  Check(len == 0 || source != nullptr, "(len == 0) || (source != 0)", "", __LINE__);
  if (len == 0 || source == nullptr) return;
  const SizeType required =
      GetConvertedStringLength<SourceT, TargetT>(source, source + len, charset);
  if (Distance<TargetT>(end_, endStore_) < required) {
    const SizeType needed =
        SafeSize::Add(SafeSize(Distance<TargetT>(begin_, end_)), SafeSize(required)).rawValue();
    Grow(needed, begin_, end_, endStore_);
  }
  TargetT* written;
  try {
    written = StringCopyAndConvert(source, source + len, charset, end_, end_ + required);
  } catch (...) {
    *end_ = TargetT(0);
    throw;
  }
  end_ = written;
  *end_ = TargetT(0);
}

// The narrow character set of a kind's own conversions.
template <typename Tag>
constexpr const char* KindCharset() {
  return std::is_same<Tag, char>::value ? kAsciiCharset : kSystemCharset;
}

// The character set for building kind To from kind From.
template <typename To, typename From>
const char* CharsetBetween() {
  return std::is_same<To, ASCIIString>::value || std::is_same<From, ASCIIString>::value
             ? kAsciiCharset
             : kSystemCharset;
}

// Building one kind from another: through the converter of the two element types,
// except ASCII into UTF-8, which is the same bytes.
template <typename SourceT, typename TargetT>
void BuildFromKind(const SourceT* source, SizeType n, const char* charset, TargetT*& begin_,
                   TargetT*& end_, TargetT*& endStore_) {
  Convert(source, n, charset, begin_, end_, endStore_);
}

void BuildFromKind(const char* ascii, SizeType n, const char*, unsigned char*& begin_,
                   unsigned char*& end_, unsigned char*& endStore_) {
  Duplicate(reinterpret_cast<const unsigned char*>(ascii), n, begin_, end_, endStore_);
}

}  // namespace

namespace detail {

template <typename CharT>
unsigned int CharactersToBytes(unsigned int count) {
  if (sizeof(CharT) == 1) return count;
  return SafeSize::Multiply(SafeSize(count), SafeSize(static_cast<SizeType>(sizeof(CharT))))
      .rawValue();
}

template unsigned int CharactersToBytes<wchar_t>(unsigned int);
template unsigned int CharactersToBytes<char>(unsigned int);
template unsigned int CharactersToBytes<unsigned char>(unsigned int);

}  // namespace detail

// ---------------------------------------------------------------------------
// StringBase members
// ---------------------------------------------------------------------------

#define QEL_STRINGBASE_TEMPLATE template <typename CharT, typename OtherCharT, typename Tag>
#define QEL_STRINGBASE StringBase<CharT, OtherCharT, Tag>

QEL_STRINGBASE_TEMPLATE
QEL_STRINGBASE::StringBase() : begin_(nullptr), end_(nullptr), endStore_(nullptr) {
  Duplicate(EnsureNonNull<CharT>(nullptr), 0, begin_, end_, endStore_);
  checkInvariants();
}

QEL_STRINGBASE_TEMPLATE
QEL_STRINGBASE::StringBase(const CharT* s) : begin_(nullptr), end_(nullptr), endStore_(nullptr) {
  const CharT* text = EnsureNonNull(s);
  Duplicate(text, StringLength(text), begin_, end_, endStore_);
  checkInvariants();
}

QEL_STRINGBASE_TEMPLATE
QEL_STRINGBASE::StringBase(const CharT* first, const CharT* last)
    : begin_(nullptr), end_(nullptr), endStore_(nullptr) {
  Check(first != nullptr, "begin", "", __LINE__);
  Check(last != nullptr, "end", "", __LINE__);
  const bool ordered = first != nullptr && last != nullptr && first <= last;
  if (first != nullptr && last != nullptr) Check(ordered, "begin <= end", "", __LINE__);
  if (ordered) {
    Duplicate(first, NumericCast<SizeType>(static_cast<size_t>(last - first)), begin_, end_,
              endStore_);
  } else {
    Duplicate(EnsureNonNull<CharT>(nullptr), 0, begin_, end_, endStore_);
  }
  checkInvariants();
}

QEL_STRINGBASE_TEMPLATE
QEL_STRINGBASE::StringBase(const CharT* s, size_type n)
    : begin_(nullptr), end_(nullptr), endStore_(nullptr) {
  Check(s != nullptr, "that", "", __LINE__);
  if (s != nullptr) {
    Duplicate(s, n, begin_, end_, endStore_);
  } else {
    Duplicate(EnsureNonNull<CharT>(nullptr), 0, begin_, end_, endStore_);
  }
  checkInvariants();
}

QEL_STRINGBASE_TEMPLATE
QEL_STRINGBASE::StringBase(size_type count, CharT ch)
    : begin_(nullptr), end_(nullptr), endStore_(nullptr) {
  DuplicateFill(count, ch, begin_, end_, endStore_);
  checkInvariants();
}

QEL_STRINGBASE_TEMPLATE
QEL_STRINGBASE::StringBase(const StringBase& that)
    : begin_(nullptr), end_(nullptr), endStore_(nullptr) {
  Duplicate<CharT>(that.c_str(), that.length(), begin_, end_, endStore_);
  checkInvariants();
}

QEL_STRINGBASE_TEMPLATE
QEL_STRINGBASE::StringBase(const StringBase& that, size_type pos, size_type n)
    : begin_(nullptr), end_(nullptr), endStore_(nullptr) {
  const size_type size = that.size();
  if (pos > size) ThrowOffsetOutOfRange(__LINE__);
  const size_type count = std::min(n, size - pos);
  Duplicate<CharT>(that.begin_ + pos, count, begin_, end_, endStore_);
  checkInvariants();
}

QEL_STRINGBASE_TEMPLATE
QEL_STRINGBASE::StringBase(const StringBase& a, const StringBase& b)
    : begin_(nullptr), end_(nullptr), endStore_(nullptr) {
  const size_type aSize = a.size();
  const size_type bSize = b.size();
  const size_type total = SafeSize::Add(SafeSize(aSize), SafeSize(bSize)).rawValue();
  CharT* buffer = StringAlloc<CharT>(WithTerminator(total));
  StringCopy(buffer, a.begin_, aSize);
  StringCopy(buffer + aSize, b.begin_, bSize);
  begin_ = buffer;
  end_ = endStore_ = buffer + total;
  checkInvariants();
}

QEL_STRINGBASE_TEMPLATE
QEL_STRINGBASE::~StringBase() noexcept {
  checkInvariants();
  freeString();
}

QEL_STRINGBASE_TEMPLATE
void QEL_STRINGBASE::freeString() noexcept {
  DLLFree(begin_);
  begin_ = end_ = endStore_ = nullptr;
}

QEL_STRINGBASE_TEMPLATE
QEL_STRINGBASE& QEL_STRINGBASE::operator=(const StringBase& that) {
  return assign(that.c_str(), that.length());
}

QEL_STRINGBASE_TEMPLATE
QEL_STRINGBASE& QEL_STRINGBASE::operator=(const CharT* s) {
  const CharT* text = EnsureNonNull(s);
  return assign(text, StringLength(text));
}

QEL_STRINGBASE_TEMPLATE
QEL_STRINGBASE& QEL_STRINGBASE::assign(const CharT* s, size_type n) {
  checkInvariants();
  if (s == begin_) return *this;
  if (s == nullptr) {
    s = EnsureNonNull(s);
    n = 0;
  }
  if (PointsInto<CharT>(s, begin_, endStore_)) {
    // Part of the own text: move it to the front first, so that a shrinking
    // reallocation keeps it.
    const size_type room = Distance<CharT>(s, endStore_);
    Check(n <= room, "n <= room", "Assigned text runs past the string's buffer.", __LINE__);
    if (n > room) n = room;
    std::memmove(begin_, s, size_t(n) * sizeof(CharT));
    end_ = begin_ + n;
    *end_ = CharT(0);
    ReallocBuffer(begin_, end_, endStore_, n);
  } else {
    ReallocBuffer(begin_, end_, endStore_, n);
    StringCopy(begin_, s, n);
    end_ = begin_ + n;
  }
  checkInvariants();
  return *this;
}

QEL_STRINGBASE_TEMPLATE
QEL_STRINGBASE& QEL_STRINGBASE::appendChecked(const CharT* s, size_type n) {
  checkInvariants();
  if (s != nullptr) Concatenate(s, n, begin_, end_, endStore_);
  checkInvariants();
  return *this;
}

QEL_STRINGBASE_TEMPLATE
QEL_STRINGBASE& QEL_STRINGBASE::appendChecked(size_type count, CharT ch) {
  checkInvariants();
  Concatenate(count, ch, begin_, end_, endStore_);
  checkInvariants();
  return *this;
}

QEL_STRINGBASE_TEMPLATE
QEL_STRINGBASE& QEL_STRINGBASE::append(const CharT* s) {
  if (s == nullptr) {
    checkInvariants();
    return *this;
  }
  return append(s, StringLength(s));
}

QEL_STRINGBASE_TEMPLATE
QEL_STRINGBASE& QEL_STRINGBASE::append(const StringBase& that, size_type pos, size_type n) {
  checkInvariants();
  const size_type size = that.size();
  if (pos > size) ThrowOffsetOutOfRange(__LINE__);
  // Concatenate finds `that`'s text in the own buffer when `that` is this string.
  Concatenate<CharT>(that.begin_ + pos, std::min(n, size - pos), begin_, end_, endStore_);
  checkInvariants();
  return *this;
}

QEL_STRINGBASE_TEMPLATE
QEL_STRINGBASE& QEL_STRINGBASE::operator+=(const CharT* s) { return append(s); }

QEL_STRINGBASE_TEMPLATE
QEL_STRINGBASE QEL_STRINGBASE::operator+(const StringBase& that) const {
  return StringBase(*this, that);
}

QEL_STRINGBASE_TEMPLATE
QEL_STRINGBASE QEL_STRINGBASE::operator+(const CharT* s) const {
  StringBase result(*this);
  result.append(s);
  return result;
}

QEL_STRINGBASE_TEMPLATE
QEL_STRINGBASE QEL_STRINGBASE::operator+(CharT ch) const {
  StringBase result(*this);
  result.append(1, ch);
  return result;
}
QEL_STRINGBASE_TEMPLATE
void QEL_STRINGBASE::swap(StringBase& other) noexcept {
  checkInvariants();
  other.checkInvariants();
  std::swap(begin_, other.begin_);
  std::swap(end_, other.end_);
  std::swap(endStore_, other.endStore_);
  checkInvariants();
  other.checkInvariants();
}

QEL_STRINGBASE_TEMPLATE
bool QEL_STRINGBASE::hasEmbeddedNull() const {
  checkInvariants();
  return std::find(static_cast<const CharT*>(begin_), static_cast<const CharT*>(end_), CharT(0)) !=
         end_;
}

QEL_STRINGBASE_TEMPLATE
void QEL_STRINGBASE::reserve(size_type n) {
  checkInvariants();
  if (n > Distance<CharT>(begin_, endStore_)) ReallocBuffer(begin_, end_, endStore_, n);
  checkInvariants();
}

QEL_STRINGBASE_TEMPLATE
void QEL_STRINGBASE::reportBrokenInvariants() const noexcept {
  Check(end_ >= begin_, "end_ >= begin_", "", __LINE__);
  Check(endStore_ >= end_, "endStore_ >= end_", "", __LINE__);
  Check(begin_ != nullptr, "begin_ != 0", "", __LINE__);
  if (begin_ != nullptr && end_ != nullptr) Check(*end_ == 0, "*end_ == 0", "", __LINE__);
  Check(size_t(end_ - begin_) < UINT_MAX, "size_t(end_ - begin_) < UINT_MAX",
        "String length must be less than UINT_MAX.", __LINE__);
}

QEL_STRINGBASE_TEMPLATE
typename QEL_STRINGBASE::const_reference QEL_STRINGBASE::reportIndexPastEnd() const noexcept {
  osdep::OutputAssertion("(begin_+index <= end_) && (begin_+index >= begin_)", "", kFileName,
                         __LINE__);
  return *end_;
}

// ---------------------------------------------------------------------------
// Searching
// ---------------------------------------------------------------------------

QEL_STRINGBASE_TEMPLATE
typename QEL_STRINGBASE::size_type QEL_STRINGBASE::find(CharT ch, size_type pos) const noexcept {
  checkInvariants();
  const size_type size = Distance<CharT>(begin_, end_);
  if (pos >= size) return npos;
  const CharT* found = FindElement<CharT>(begin_ + pos, end_, ch);
  return found == end_ ? npos : Distance<CharT>(begin_, found);
}

QEL_STRINGBASE_TEMPLATE
typename QEL_STRINGBASE::size_type QEL_STRINGBASE::find(const StringBase& str,
                                                        size_type pos) const noexcept {
  checkInvariants();
  str.checkInvariants();
  const size_type size = Distance<CharT>(begin_, end_);
  const size_type m = Distance<CharT>(str.begin_, str.end_);
  if (pos >= size) return npos;
  if (m == 0) return pos;
  if (m > size - pos) return npos;
  // Every start position in turn; the C library's scan for the first element skips
  // the positions where that one already differs.
  const CharT* const lastStart = end_ - m;
  for (const CharT* p = begin_ + pos; p <= lastStart; ++p) {
    p = FindElement<CharT>(p, lastStart + 1, str.begin_[0]);
    if (p > lastStart) break;
    if (SameElements<CharT>(p + 1, str.begin_ + 1, m - 1)) return Distance<CharT>(begin_, p);
  }
  return npos;
}

QEL_STRINGBASE_TEMPLATE
typename QEL_STRINGBASE::size_type QEL_STRINGBASE::rfind(CharT ch, size_type pos) const noexcept {
  checkInvariants();
  const size_type size = Distance<CharT>(begin_, end_);
  if (size == 0) return npos;
  const CharT* const last = begin_ + std::min(pos, size - 1) + 1;
  const CharT* found = FindLastElement<CharT>(begin_, last, ch);
  return found == nullptr ? npos : Distance<CharT>(begin_, found);
}

QEL_STRINGBASE_TEMPLATE
typename QEL_STRINGBASE::size_type QEL_STRINGBASE::rfind(const StringBase& str,
                                                         size_type pos) const noexcept {
  checkInvariants();
  str.checkInvariants();
  const size_type size = Distance<CharT>(begin_, end_);
  const size_type m = Distance<CharT>(str.begin_, str.end_);
  if (m > size) return npos;
  for (size_type start = std::min(size - m, pos);; --start) {
    if (SameElements<CharT>(begin_ + start, str.begin_, m)) return start;
    if (start == 0) return npos;
  }
}

QEL_STRINGBASE_TEMPLATE
typename QEL_STRINGBASE::size_type QEL_STRINGBASE::find_first_of(const StringBase& set,
                                                                 size_type pos) const noexcept {
  checkInvariants();
  set.checkInvariants();
  for (size_type i = pos, size = Distance<CharT>(begin_, end_); i < size; ++i) {
    if (Contains<CharT>(set.begin_, set.end_, begin_[i])) return i;
  }
  return npos;
}

QEL_STRINGBASE_TEMPLATE
typename QEL_STRINGBASE::size_type QEL_STRINGBASE::find_first_not_of(const StringBase& set,
                                                                     size_type pos) const noexcept {
  checkInvariants();
  set.checkInvariants();
  for (size_type i = pos, size = Distance<CharT>(begin_, end_); i < size; ++i) {
    if (!Contains<CharT>(set.begin_, set.end_, begin_[i])) return i;
  }
  return npos;
}

QEL_STRINGBASE_TEMPLATE
typename QEL_STRINGBASE::size_type QEL_STRINGBASE::find_last_of(const StringBase& set,
                                                                size_type pos) const noexcept {
  checkInvariants();
  set.checkInvariants();
  const size_type size = Distance<CharT>(begin_, end_);
  if (size == 0) return npos;
  for (size_type i = std::min(pos, size - 1);; --i) {
    if (Contains<CharT>(set.begin_, set.end_, begin_[i])) return i;
    if (i == 0) return npos;
  }
}

QEL_STRINGBASE_TEMPLATE
typename QEL_STRINGBASE::size_type QEL_STRINGBASE::find_last_not_of(const StringBase& set,
                                                                    size_type pos) const noexcept {
  checkInvariants();
  set.checkInvariants();
  const size_type size = Distance<CharT>(begin_, end_);
  if (size == 0) return npos;
  for (size_type i = std::min(pos, size - 1);; --i) {
    if (!Contains<CharT>(set.begin_, set.end_, begin_[i])) return i;
    if (i == 0) return npos;
  }
}

// The one-element set is compared in place rather than built as a temporary string:
// the same answer without an allocation.
QEL_STRINGBASE_TEMPLATE
typename QEL_STRINGBASE::size_type QEL_STRINGBASE::find_last_of(CharT ch,
                                                                size_type pos) const noexcept {
  return rfind(ch, pos);
}

QEL_STRINGBASE_TEMPLATE
typename QEL_STRINGBASE::size_type QEL_STRINGBASE::find_last_not_of(CharT ch,
                                                                    size_type pos) const noexcept {
  checkInvariants();
  const size_type size = Distance<CharT>(begin_, end_);
  if (size == 0) return npos;
  for (size_type i = std::min(pos, size - 1);; --i) {
    if (begin_[i] != ch) return i;
    if (i == 0) return npos;
  }
}

// ---------------------------------------------------------------------------
// Extracting
// ---------------------------------------------------------------------------

QEL_STRINGBASE_TEMPLATE
QEL_STRINGBASE QEL_STRINGBASE::substr(size_type pos, size_type n) const {
  checkInvariants();
  const size_type size = Distance<CharT>(begin_, end_);
  if (pos > size) {
    osdep::OutputAssertion("index <= length()", "", kFileName, __LINE__);
    return StringBase();
  }
  size_type count = size - pos;
  if (n != npos && SafeSize::Add(SafeSize(pos), SafeSize(n)).rawValue() <= size) count = n;
  return StringBase(begin_ + pos, count);
}

QEL_STRINGBASE_TEMPLATE
typename QEL_STRINGBASE::size_type QEL_STRINGBASE::copy(CharT* dest, size_type n,
                                                        size_type pos) const {
  checkInvariants();
  const size_type size = Distance<CharT>(begin_, end_);
  if (pos > size) ThrowOffsetOutOfRange(__LINE__);
  const size_type count = std::min(n, size - pos);
  if (count == 0) return 0;
  Check(dest != nullptr, "dest", "", __LINE__);
  if (dest == nullptr) return 0;
  std::memmove(dest, begin_ + pos, size_t(count) * sizeof(CharT));
  return count;
}

// ---------------------------------------------------------------------------
// Removing, resizing, replacing
// ---------------------------------------------------------------------------

QEL_STRINGBASE_TEMPLATE
QEL_STRINGBASE& QEL_STRINGBASE::erase(size_type pos, size_type n, BufferStrategy strategy) {
  checkInvariants();
  const size_type size = Distance<CharT>(begin_, end_);
  if (pos > size) ThrowOffsetOutOfRange(__LINE__);
  const size_type count = std::min(n, size - pos);
  const size_type newLength = size - count;
  // The tail moves down with its terminator, so the string is valid at once, even
  // if giving memory back below then fails.
  std::memmove(begin_ + pos, begin_ + pos + count,
               (size_t(size - pos - count) + 1) * sizeof(CharT));
  end_ = begin_ + newLength;
  if (strategy == ReleaseUnused) ReallocBuffer(begin_, end_, endStore_, newLength);
  checkInvariants();
  return *this;
}

QEL_STRINGBASE_TEMPLATE
typename QEL_STRINGBASE::iterator QEL_STRINGBASE::erase(iterator first, iterator last,
                                                        BufferStrategy strategy) {
  const size_type pos = static_cast<size_type>(first - begin_);
  erase(pos, static_cast<size_type>(last - first), strategy);
  return begin_ + pos;
}

QEL_STRINGBASE_TEMPLATE
void QEL_STRINGBASE::clear(BufferStrategy strategy) { erase(0, npos, strategy); }

QEL_STRINGBASE_TEMPLATE
void QEL_STRINGBASE::resize(size_type n, CharT ch, BufferStrategy strategy) {
  checkInvariants();
  const size_type size = Distance<CharT>(begin_, end_);
  if (n < size) {
    erase(n, npos, strategy);
  } else if (n > size) {
    Concatenate(n - size, ch, begin_, end_, endStore_);
  }
  checkInvariants();
}

QEL_STRINGBASE_TEMPLATE
QEL_STRINGBASE& QEL_STRINGBASE::replace(size_type pos, size_type n, const StringBase& str,
                                        size_type subpos, size_type sublen) {
  checkInvariants();
  str.checkInvariants();
  const size_type size = Distance<CharT>(begin_, end_);
  const size_type strSize = Distance<CharT>(str.begin_, str.end_);
  if (pos > size) ThrowOffsetOutOfRange(__LINE__);
  if (subpos > strSize) ThrowOffsetOutOfRange(__LINE__);
  const size_type removed = std::min(n, size - pos);
  const size_type inserted = std::min(sublen, strSize - subpos);
  if (uint64_t(size) - removed + inserted >= 0xFFFFFFFFu) {
    throw AddFileAndLineInfo(exception::BoundExceeded2(ANSIString("Resulting string too large")),
                             kFileName, __LINE__);
  }
  if (&str == this && inserted != 0) {
    // The moves below would overwrite the text to insert: insert a copy of it.
    const StringBase part(str.begin_ + subpos, inserted);
    return replace(pos, n, part, 0, inserted);
  }

  const size_type newLength = size - removed + inserted;
  const size_t tail = size_t(size - pos - removed) + 1;  // with the terminator
  if (inserted > removed) {
    // Grow first (exactly, no doubling); a failure leaves the string unchanged.
    ReallocBuffer(begin_, end_, endStore_, newLength);
    std::memmove(begin_ + pos + inserted, begin_ + pos + removed, tail * sizeof(CharT));
    if (inserted != 0)
      std::memcpy(begin_ + pos, str.begin_ + subpos, size_t(inserted) * sizeof(CharT));
    end_ = begin_ + newLength;
  } else {
    // Move down and fill in before giving memory back, so the string already holds
    // its result should the shrinking reallocation fail.
    if (inserted != removed) {
      std::memmove(begin_ + pos + inserted, begin_ + pos + removed, tail * sizeof(CharT));
    }
    if (inserted != 0)
      std::memcpy(begin_ + pos, str.begin_ + subpos, size_t(inserted) * sizeof(CharT));
    end_ = begin_ + newLength;
    if (inserted != removed) ReallocBuffer(begin_, end_, endStore_, newLength);
  }
  checkInvariants();
  return *this;
}
// ---------------------------------------------------------------------------
// Comparing
// ---------------------------------------------------------------------------

QEL_STRINGBASE_TEMPLATE
int QEL_STRINGBASE::compare(const StringBase& that) const noexcept {
  checkInvariants();
  that.checkInvariants();
  return CompareRanges(k_IGNORE_CASE, begin_, Distance<CharT>(begin_, end_), that.begin_,
                       Distance<CharT>(that.begin_, that.end_));
}

QEL_STRINGBASE_TEMPLATE
int QEL_STRINGBASE::compare(const CharT* s) const noexcept {
  checkInvariants();
  return CompareTerminated(k_IGNORE_CASE, begin_, s);
}

QEL_STRINGBASE_TEMPLATE
int QEL_STRINGBASE::compare(size_type pos, size_type n, const CharT* s, size_type len) const {
  checkInvariants();
  const StringBase part(*this, pos, n);
  const StringBase other = len == npos ? StringBase(s) : StringBase(s, len);
  return part.compare(other);
}

QEL_STRINGBASE_TEMPLATE
int QEL_STRINGBASE::exactCompare(const StringBase& that) const noexcept {
  checkInvariants();
  that.checkInvariants();
  return CompareRanges(k_EXACT, begin_, Distance<CharT>(begin_, end_), that.begin_,
                       Distance<CharT>(that.begin_, that.end_));
}

QEL_STRINGBASE_TEMPLATE
int QEL_STRINGBASE::exactCompare(const CharT* s) const noexcept {
  checkInvariants();
  return CompareTerminated(k_EXACT, begin_, s);
}

// ---------------------------------------------------------------------------
// Conversions from the other element type and from other kinds
// ---------------------------------------------------------------------------

QEL_STRINGBASE_TEMPLATE
QEL_STRINGBASE::StringBase(const OtherCharT* s)
    : begin_(nullptr), end_(nullptr), endStore_(nullptr) {
  const OtherCharT* text = EnsureNonNull(s);
  Convert(text, StringLength(text), KindCharset<Tag>(), begin_, end_, endStore_);
  checkInvariants();
}

QEL_STRINGBASE_TEMPLATE
QEL_STRINGBASE::StringBase(const OtherCharT* first, const OtherCharT* last)
    : begin_(nullptr), end_(nullptr), endStore_(nullptr) {
  Check(first != nullptr, "begin", "", __LINE__);
  Check(last != nullptr, "end", "", __LINE__);
  bool usable = first != nullptr && last != nullptr;
  if (usable) {
    Check(first <= last, "begin <= end", "", __LINE__);
    usable = first <= last;
  }
  if (usable) {
    Check(size_t(last - first) < UINT_MAX, "size_t(end-begin) < UINT_MAX", "", __LINE__);
    usable = size_t(last - first) < UINT_MAX;
  }
  const SizeType len = usable ? Distance<OtherCharT>(first, last) : 0;
  Convert(usable ? first : nullptr, len, KindCharset<Tag>(), begin_, end_, endStore_);
  checkInvariants();
}

QEL_STRINGBASE_TEMPLATE
QEL_STRINGBASE::StringBase(const OtherCharT* s, size_type n)
    : begin_(nullptr), end_(nullptr), endStore_(nullptr) {
  Convert(s, n, KindCharset<Tag>(), begin_, end_, endStore_);
  checkInvariants();
}

QEL_STRINGBASE_TEMPLATE
QEL_STRINGBASE& QEL_STRINGBASE::assign(const OtherCharT* s, size_type n) {
  checkInvariants();
  CharT* newBegin = nullptr;
  CharT* newEnd = nullptr;
  CharT* newEndStore = nullptr;
  Convert(s, n, KindCharset<Tag>(), newBegin, newEnd, newEndStore);
  freeString();
  begin_ = newBegin;
  end_ = newEnd;
  endStore_ = newEndStore;
  checkInvariants();
  return *this;
}

QEL_STRINGBASE_TEMPLATE
QEL_STRINGBASE& QEL_STRINGBASE::operator=(const OtherCharT* s) {
  const OtherCharT* text = EnsureNonNull(s);
  return assign(text, StringLength(text));
}

QEL_STRINGBASE_TEMPLATE
QEL_STRINGBASE& QEL_STRINGBASE::append(const OtherCharT* s) {
  const OtherCharT* text = EnsureNonNull(s);
  return append(text, StringLength(text));
}

QEL_STRINGBASE_TEMPLATE
QEL_STRINGBASE& QEL_STRINGBASE::append(const OtherCharT* s, size_type n) {
  checkInvariants();
  ConvertAndConcatenate(s, n, KindCharset<Tag>(), begin_, end_, endStore_);
  checkInvariants();
  return *this;
}

QEL_STRINGBASE_TEMPLATE
QEL_STRINGBASE& QEL_STRINGBASE::operator+=(const OtherCharT* s) { return append(s); }

QEL_STRINGBASE_TEMPLATE
QEL_STRINGBASE QEL_STRINGBASE::operator+(const OtherCharT* s) const {
  StringBase result(*this);
  result.append(s);
  return result;
}

QEL_STRINGBASE_TEMPLATE
template <class Kind, detail::EnableIfPartner<QEL_STRINGBASE, Kind>>
QEL_STRINGBASE::StringBase(const Kind& that) : begin_(nullptr), end_(nullptr), endStore_(nullptr) {
  Convert(that.c_str(), that.length(), CharsetBetween<StringBase, Kind>(), begin_, end_, endStore_);
  checkInvariants();
}

QEL_STRINGBASE_TEMPLATE
template <class Kind, detail::EnableIfPartner<QEL_STRINGBASE, Kind>>
QEL_STRINGBASE& QEL_STRINGBASE::append(const Kind& that) {
  return append(that, 0, npos);
}

QEL_STRINGBASE_TEMPLATE
template <class Kind, detail::EnableIfPartner<QEL_STRINGBASE, Kind>>
QEL_STRINGBASE& QEL_STRINGBASE::append(const Kind& that, size_type pos, size_type n) {
  checkInvariants();
  const typename Kind::size_type size = that.size();
  if (pos > size) ThrowOffsetOutOfRange(__LINE__);
  ConvertAndConcatenate(that.c_str() + pos, std::min(n, size - pos),
                        CharsetBetween<StringBase, Kind>(), begin_, end_, endStore_);
  checkInvariants();
  return *this;
}

QEL_STRINGBASE_TEMPLATE
template <class Kind, detail::EnableIfPartner<QEL_STRINGBASE, Kind>>
QEL_STRINGBASE& QEL_STRINGBASE::operator+=(const Kind& that) {
  return append(that, 0, npos);
}

QEL_STRINGBASE_TEMPLATE
template <class Kind, detail::EnableIfPartner<QEL_STRINGBASE, Kind>>
QEL_STRINGBASE QEL_STRINGBASE::operator+(const Kind& that) const {
  StringBase result(*this);
  result.append(that, 0, npos);
  return result;
}

QEL_STRINGBASE_TEMPLATE
template <class Kind, detail::EnableIfBuiltAcrossKinds<QEL_STRINGBASE, Kind>>
QEL_STRINGBASE::StringBase(const void* reserved, const Kind& that)
    : begin_(nullptr), end_(nullptr), endStore_(nullptr) {
  Check(reserved == nullptr, "0 == reserved", "", __LINE__);
  BuildFromKind(that.c_str(), that.length(), CharsetBetween<StringBase, Kind>(), begin_, end_,
                endStore_);
  checkInvariants();
}

#undef QEL_STRINGBASE
#undef QEL_STRINGBASE_TEMPLATE

template class StringBase<wchar_t, char, wchar_t>;
template class StringBase<char, wchar_t, wchar_t>;
template class StringBase<char, wchar_t, char>;
template class StringBase<unsigned char, wchar_t, wchar_t>;

// The conversions between whole kinds, for the pairs that have them.
template String::StringBase(const ANSIString&);
template String& String::append(const ANSIString&);
template String& String::append(const ANSIString&, String::size_type, String::size_type);
template String& String::operator+=(const ANSIString&);
template String String::operator+(const ANSIString&) const;
template ANSIString::StringBase(const String&);
template ANSIString& ANSIString::append(const String&);
template ANSIString& ANSIString::append(const String&, ANSIString::size_type,
                                        ANSIString::size_type);
template ANSIString& ANSIString::operator+=(const String&);
template ANSIString ANSIString::operator+(const String&) const;
template String::StringBase(const void*, const ASCIIString&);
template String::StringBase(const void*, const Utf8String&);
template ASCIIString::StringBase(const void*, const String&);
template Utf8String::StringBase(const void*, const ASCIIString&);
template Utf8String::StringBase(const void*, const String&);

}  // namespace vo::qel
