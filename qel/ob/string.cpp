#include "qel/ob/string.h"

#include <cstring>

#include "qel/NumericCast.h"
#include "qel/exception/DetailedException.h"
#include "qel/exception/Exception.h"
#include "qel/ob/ThrowIfOBError.h"
#include "qel/osdep/OutputAssertion.h"

namespace vo::qel {

Utf8String StringToUtf8String(const String& s) { return Utf8String(nullptr, s); }

String Utf8StringToString(const Utf8String& s) { return String(nullptr, s); }

ANSIString Utf8StringToANSIString(const Utf8String& s) { return ANSIString(Utf8StringToString(s)); }

Utf8String ANSIStringToUtf8String(const ANSIString& s) { return StringToUtf8String(String(s)); }

}  // namespace vo::qel

namespace vo::qel::ob::string {

namespace {

constexpr char kFile[] = "ob/string";
constexpr uint32_t kEncodingCheckLine = 201;  // the line hosts have always been told
constexpr int32_t kUnsignedByteType = 5;      // NumericArrayResize's code for bytes

bool SystemEncodingIsUtf8() { return true; }

constexpr unsigned char kNoBytes[1] = {0};

// The bytes of a host record: the one place where a handle is read. An empty record
// views kNoBytes, as the string constructors take no null text.
struct HostBytes {
  const unsigned char* data = kNoBytes;
  uint32_t count = 0;

  const char* chars() const { return reinterpret_cast<const char*>(data); }
};

HostBytes ReadRecord(const LStr* const* handle) {
  const LStr* const record = handle != nullptr ? *handle : nullptr;
  if (record == nullptr) return {};
  const int32_t count = record->cnt;
  if (count < 0) {
    // The host never sends one; a negative count means the record is not what it
    // claims to be, so nothing after the count field may be trusted or read.
    throw AddFileAndLineInfo(exception::InvalidArgument2(ANSIString("negative LStr byte count")),
                             kFile, __LINE__);
  }
  if (count == 0) return {};
  return {record->str, static_cast<uint32_t>(count)};
}

// Resizes the handle through the host, then writes the count and the bytes.
void WriteBytes(const void* bytes, unsigned int length, LStr**& handle) {
  const int32_t count = NumericCast<int>(static_cast<unsigned long>(length));
  ThrowIfOBError(::NumericArrayResize(kUnsignedByteType, 1, &handle, static_cast<size_t>(count)));
  if (handle == nullptr || *handle == nullptr) {
    // The engine answered without making a handle: it has been withdrawn.
    throw AddFileAndLineInfo(exception::NonexistentException(), kFile, __LINE__);
  }
  (*handle)->cnt = count;
  if (count != 0) std::memcpy((*handle)->str, bytes, static_cast<size_t>(count));
}

}  // namespace

OBStringEncoding NormalizeOBStringEncoding(OBStringEncoding encoding) {
  if (encoding == k_SYSTEM_ENCODING && SystemEncodingIsUtf8()) return k_UTF8_ENCODING;
  if (encoding != k_SYSTEM_ENCODING && encoding != k_UTF8_ENCODING) {
    osdep::OutputAssertion("encoding == k_SYSTEM_ENCODING || encoding == k_UTF8_ENCODING",
                           "invalid encoding", kFile, kEncodingCheckLine);
  }
  return encoding;
}

ANSIString LStrHandleToQelANSIString(LStr** handle) { return ConstLStrHToQelANSIString(handle); }

ANSIString ConstLStrHToQelANSIString(const LStr* const* handle) {
  const HostBytes bytes = ReadRecord(handle);
  return ANSIString(bytes.chars(), bytes.count);
}

String LStrHandleToQelString(LStr** handle) {
  return LStrHandleToQelString(handle, k_SYSTEM_ENCODING);
}

String LStrHandleToQelString(LStr** handle, OBStringEncoding encoding) {
  const HostBytes bytes = ReadRecord(handle);
  if (NormalizeOBStringEncoding(encoding) == k_UTF8_ENCODING) {
    return Utf8StringToString(Utf8String(bytes.data, bytes.count));
  }
  return String(bytes.chars(), bytes.count);
}

Utf8String LStrHandleToUtf8String(LStr** handle, OBStringEncoding encoding) {
  const HostBytes bytes = ReadRecord(handle);
  if (NormalizeOBStringEncoding(encoding) == k_UTF8_ENCODING) {
    return Utf8String(bytes.data, bytes.count);
  }
  return ANSIStringToUtf8String(ANSIString(bytes.chars(), bytes.count));
}

AutoBuffer LStrHandleToAutoBuffer(LStr** handle) {
  const HostBytes bytes = ReadRecord(handle);
  return AutoBuffer(bytes.data, bytes.count);
}

void QelANSIStringToLStrHandle(const ANSIString& s, LStr**& handle) {
  WriteBytes(s.c_str(), s.length(), handle);
}

void QelStringToLStrHandle(const String& s, LStr**& handle) {
  QelStringToLStrHandle(s, k_SYSTEM_ENCODING, handle);
}

void QelStringToLStrHandle(const String& s, OBStringEncoding encoding, LStr**& handle) {
  if (NormalizeOBStringEncoding(encoding) == k_UTF8_ENCODING) {
    const Utf8String utf8 = StringToUtf8String(s);
    WriteBytes(utf8.c_str(), utf8.length(), handle);
  } else {
    QelANSIStringToLStrHandle(ANSIString(s), handle);
  }
}

void Utf8StringToLStrHandle(const Utf8String& s, OBStringEncoding encoding, LStr**& handle) {
  if (NormalizeOBStringEncoding(encoding) == k_UTF8_ENCODING) {
    WriteBytes(s.c_str(), s.length(), handle);
  } else {
    QelANSIStringToLStrHandle(Utf8StringToANSIString(s), handle);
  }
}

void BufferWrapperToLStrHandle(const BufferWrapper& w, LStr**& handle) {
  WriteBytes(w.Data(), w.Len(), handle);
}

}  // namespace vo::qel::ob::string
