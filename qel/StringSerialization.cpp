// The serialized form of the string kinds (declared in StringBase.h): a 4-byte
// little-endian count followed by the payload. Built on the public members of
// StringBase only, so the storage code stays in one place.
//
// Every reader works on a copy of the caller's cursor and hands it back only when the
// whole form has been read and the string replaced, so a failure leaves both as they
// were. The count is checked against the bytes that are really there before anything
// is allocated or read, and it is never added to anything in 32 bits.

#include <cstdint>
#include <cstring>
#include <memory>

#include "qel/IntegerTypes.h"
#include "qel/SafeInteger.h"
#include "qel/StringBase.h"
#include "qel/Utf8ToWide.h"
#include "qel/WideToUtf8.h"
#include "qel/exception/Exception.h"
#include "qel/little_endian.h"
#include "qel/osdep/OutputAssertion.h"

namespace vo::qel {
namespace {

// Reports and exceptions name the unit the members belong to.
const char kFileName[] = "StringBase";

const UInt32 kPrefixBytes = sizeof(UInt32);

typedef SafeInteger<UInt32> SafeUInt32;

inline void Check(bool ok, const char* expression, const char* message, uint32_t line) noexcept {
  if (!ok) osdep::OutputAssertion(expression, message, kFileName, line);
}

[[noreturn]] void ThrowDeserializationError(uint32_t line) {
  throw AddFileAndLineInfo(exception::DeserializationError(), kFileName, line);
}

// The size of the whole form for a payload of `payload` bytes. A form that would pass
// 0xFFFFFFFF bytes is reported and counted as 0xFFFFFFFF, which cuts the payload.
UInt32 WithPrefix(UInt32 payload) noexcept {
  bool overflow = false;
  const SafeUInt32 total = SafeUInt32::AddNoThrow(payload, kPrefixBytes, overflow);
  if (overflow) {
    osdep::OutputAssertion("false", "serialized string is too big. The string will be truncated.",
                           kFileName, __LINE__);
    return 0xFFFFFFFF;
  }
  return total.rawValue();
}

// ---------------------------------------------------------------------------
// Sizes, by element type: the narrow kinds count their terminator in the payload.
// ---------------------------------------------------------------------------

UInt32 SerializedSize(const char*, UInt32 length) noexcept {
  bool overflow = false;
  const SafeUInt32 payload = SafeUInt32::AddNoThrow(length, 1, overflow);
  Check(!overflow, "!overflow", "the character buffer size should never overflow a UInt32",
        __LINE__);
  return overflow ? WithPrefix(0xFFFFFFFF) : WithPrefix(payload.rawValue());
}

UInt32 SerializedSize(const unsigned char*, UInt32 length) noexcept { return WithPrefix(length); }

// The UTF-8 bytes of the longest run of whole characters that keeps the form within
// 0xFFFFFFFF bytes (a cut is reported by the measuring itself).
UInt32 SerializedSize(const wchar_t* text, UInt32 length) noexcept {
  const size_t payload =
      GetUtf8EncodingBytesWithBufferLimit(text, text + length, 0xFFFFFFFF - kPrefixBytes);
  return kPrefixBytes + static_cast<UInt32>(payload);
}

// ---------------------------------------------------------------------------
// Payload writers. The caller has checked the room for the whole form, so none of
// the writes below can fail halfway.
// ---------------------------------------------------------------------------

void WritePayload(const char* text, UInt32, UInt32 n, unsigned char*& out,
                  const unsigned char* outEnd) {
  // n is at least 1: the terminator is always part of the form, also when a text too
  // long for the form is cut.
  little_endian::SerializeByteArray(text, n - 1, out, outEnd);
  little_endian::Serialize<char>('\0', out, outEnd);
}

void WritePayload(const unsigned char* text, UInt32, UInt32 n, unsigned char*& out,
                  const unsigned char* outEnd) {
  little_endian::SerializeByteArray(text, n, out, outEnd);
}

void WritePayload(const wchar_t* text, UInt32 length, UInt32 n, unsigned char*& out,
                  const unsigned char*) {
  if (n == 0) return;
  // n was measured on whole characters, so encoding into exactly n bytes stops at the
  // same character, also when a text too long for the form is cut.
  const wchar_t* from = text;
  const size_t written = WideToUtf8NoOverflow(from, text + length, out, out + n);
  Check(written == n, "written == n", "UTF-8 size differs from the measured size", __LINE__);
  // Keep the form whole and defined even then.
  if (written < n) std::memset(out + written, 0, n - written);
  out += n;
}

// ---------------------------------------------------------------------------
// Readers, by kind. Each reads from its own copy of the cursor (the member hands it
// back on success) and replaces the text with assign(), whose buffer rule is that of
// every assignment: reallocate when the text will not fit or would leave more than
// half of the buffer unused.
// ---------------------------------------------------------------------------

// Reads the count and checks that that many bytes follow; the cursor is left at the
// payload.
UInt32 ReadCount(const unsigned char*& in, const unsigned char* inEnd) {
  UInt32 n = 0;
  little_endian::Deserialize<unsigned int>(n, in, inEnd);
  little_endian::CheckDeserializationSize(n, in, inEnd);
  return n;
}

// ANSIString and ASCIIString: the last payload byte is the terminator and must be 0.
template <typename S>
void ReadTerminated(S& s, const unsigned char*& in, const unsigned char* inEnd) {
  const UInt32 n = ReadCount(in, inEnd);
  // A payload of no bytes has no terminator: no writer produces it.
  if (n == 0) ThrowDeserializationError(__LINE__);
  if (in[n - 1] != 0) ThrowDeserializationError(__LINE__);
  // Bytes 0 before the terminator are text like any other.
  s.assign(reinterpret_cast<const char*>(in), n - 1);
  in += n;
}

void ReadForm(ANSIString& s, const unsigned char*& in, const unsigned char* inEnd) {
  ReadTerminated(s, in, inEnd);
}

void ReadForm(ASCIIString& s, const unsigned char*& in, const unsigned char* inEnd) {
  ReadTerminated(s, in, inEnd);
}

// Utf8String: the bytes are taken as they are, without validation.
void ReadForm(Utf8String& s, const unsigned char*& in, const unsigned char* inEnd) {
  const UInt32 n = ReadCount(in, inEnd);
  // An empty payload's position is one past the input, which may be the very address
  // at which the string's own buffer begins; assign() would take that for the
  // string's own text and keep it.
  static const unsigned char kEmpty[1] = {0};
  s.assign(n != 0 ? in : kEmpty, n);
  in += n;
}

// String: the payload is UTF-8, decoded into one element per character. Decoding
// runs into a scratch buffer first so that assign() can give the string's buffer
// exactly the decoded length; short texts use the stack.
const UInt32 kStackElements = 256;

void ReadForm(String& s, const unsigned char*& in, const unsigned char* inEnd) {
  const UInt32 n = ReadCount(in, inEnd);
  const unsigned char* const payloadEnd = in + n;
  if (n == 0) {
    static const wchar_t kEmpty[1] = {0};
    s.assign(kEmpty, 0);
    in = payloadEnd;
    return;
  }
  // Counting proves the whole payload valid (InvalidSequence otherwise) before
  // anything is allocated or changed; no byte past the payload is looked at.
  const UInt32 elements = static_cast<UInt32>(GetUtf8StringLength(in, payloadEnd));
  // A text too long for a String is refused here, as assign() would refuse it, rather
  // than after a scratch buffer for it.
  detail::CharactersToBytes<wchar_t>(SafeUInt32::Add(elements, 1).rawValue());

  wchar_t onStack[kStackElements];
  std::unique_ptr<wchar_t[]> onHeap;
  wchar_t* text = onStack;
  if (elements > kStackElements) {
    onHeap.reset(new wchar_t[elements]);
    text = onHeap.get();
  }
  const size_t decoded = Utf8ToWide(in, payloadEnd, text, text + elements);
  Check(decoded == elements, "decoded == elements", "decoded length differs from the count",
        __LINE__);
  s.assign(text, static_cast<UInt32>(decoded));
  in = payloadEnd;
}

}  // namespace

// ---------------------------------------------------------------------------
// StringBase members
// ---------------------------------------------------------------------------

#define QEL_STRINGBASE_TEMPLATE template <typename CharT, typename OtherCharT, typename Tag>
#define QEL_STRINGBASE StringBase<CharT, OtherCharT, Tag>

QEL_STRINGBASE_TEMPLATE
unsigned int QEL_STRINGBASE::serializationSize() const { return SerializedSize(c_str(), length()); }

QEL_STRINGBASE_TEMPLATE
void QEL_STRINGBASE::serialize(unsigned char*& out, const unsigned char* outEnd) const {
  const UInt32 byteCount = serializationSize();
  little_endian::CheckSerializationSize(byteCount, out, outEnd);
  if (byteCount < sizeof(UInt32)) {
    osdep::OutputAssertion("byteCount >= sizeof(vo::qel::UInt32)", "invalid serializationSize()",
                           kFileName, __LINE__);
    return;
  }
  const UInt32 n = byteCount - kPrefixBytes;
  unsigned char* cursor = out;
  little_endian::Serialize<unsigned int>(n, cursor, outEnd);
  WritePayload(c_str(), length(), n, cursor, outEnd);
  out = cursor;
}

QEL_STRINGBASE_TEMPLATE
void QEL_STRINGBASE::deserialize(const unsigned char*& in, const unsigned char* inEnd) {
  const unsigned char* cursor = in;
  ReadForm(*this, cursor, inEnd);
  in = cursor;
}

#undef QEL_STRINGBASE
#undef QEL_STRINGBASE_TEMPLATE

#define QEL_INSTANTIATE_SERIALIZATION(Kind)                                              \
  template unsigned int Kind::serializationSize() const;                                 \
  template void Kind::serialize(unsigned char*& out, const unsigned char* outEnd) const; \
  template void Kind::deserialize(const unsigned char*& in, const unsigned char* inEnd)

QEL_INSTANTIATE_SERIALIZATION(String);
QEL_INSTANTIATE_SERIALIZATION(ANSIString);
QEL_INSTANTIATE_SERIALIZATION(ASCIIString);
QEL_INSTANTIATE_SERIALIZATION(Utf8String);

#undef QEL_INSTANTIATE_SERIALIZATION

}  // namespace vo::qel
