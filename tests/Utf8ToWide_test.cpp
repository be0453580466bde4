#include "qel/Utf8ToWide.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "qel/exception/Exception.h"
#include "tests/support/AlertRecorder.h"

namespace vo::qel {
namespace {

using exception::BufferOverflow;
using exception::InvalidArgument;
using exception::InvalidSequence;
using testing::AlertRecorder;

// Bytes in a heap block of exactly their size, so that AddressSanitizer builds
// catch any read at or past the end.
struct Bytes {
  explicit Bytes(const std::string& text) : size(text.size()), data(new unsigned char[size]) {
    std::memcpy(data.get(), text.data(), size);
  }
  const unsigned char* begin() const { return data.get(); }
  const unsigned char* end() const { return data.get() + size; }
  size_t size;
  std::unique_ptr<unsigned char[]> data;
};

// Every form is compared with a reference decoder on random texts by
// Utf8Codec_test; these are the caller errors, null sources and the exception.
TEST(Utf8ToWideTest, InvalidSequenceNamesItsSource) {
  const Bytes bytes("\xFF");
  try {
    GetUtf8StringLength(bytes.begin(), bytes.end());
    ADD_FAILURE() << "no exception";
  } catch (const InvalidSequence& e) {
    EXPECT_STREQ("Utf8ToWide", e.getFileName());
    EXPECT_NE(0u, e.getLineNumber());
    EXPECT_STREQ("Invalid UTF8 encoding sequence", e.what());
  }
}

TEST(Utf8ToWideTest, DestinationArguments) {
  const Bytes bytes("abc");
  wchar_t dest[4];
  const unsigned char* cursor = bytes.begin();
  EXPECT_THROW(Utf8ToWide(bytes.begin(), bytes.end(), nullptr, dest + 4), InvalidArgument);
  EXPECT_THROW(Utf8ToWide(bytes.begin(), bytes.end(), dest + 2, dest + 1), InvalidArgument);
  EXPECT_THROW(Utf8ToWideNoOverflow(cursor, bytes.end(), nullptr, nullptr), InvalidArgument);
  EXPECT_EQ(bytes.begin(), cursor);
  // Too small: what fitted is written, then the throwing form throws.
  EXPECT_THROW(Utf8ToWide(bytes.begin(), bytes.end(), dest, dest + 2), BufferOverflow);
  EXPECT_EQ(wchar_t('b'), dest[1]);

  // An empty destination is reported, converts nothing, and the throwing form then
  // throws unless there was nothing to convert.
  AlertRecorder alerts;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(0u, Utf8ToWideNoOverflow(cursor, bytes.end(), dest, dest));
  EXPECT_EQ(bytes.begin(), cursor);
  EXPECT_THROW(Utf8ToWide(bytes.begin(), bytes.end(), dest, dest), BufferOverflow);
  EXPECT_EQ(0u, Utf8ToWide(bytes.end(), bytes.end(), dest, dest));
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(3u, alerts.alerts().size());
  EXPECT_EQ("Utf8ToWide(#): Assertion failed: destBegin < destEnd\a\n",
            testing::WithoutLineNumber(err.substr(0, err.find('\n') + 1)));
}

TEST(Utf8ToWideTest, NullAndEmptySources) {
  const Bytes none("");  // not null, yet just as empty
  for (const unsigned char* source : {static_cast<const unsigned char*>(nullptr), none.begin()}) {
    SCOPED_TRACE(source == nullptr ? "null" : "empty");
    EXPECT_EQ(0, std::unique_ptr<wchar_t[]>(Utf8ToWide(source, source == nullptr ? 5 : 0))[0]);
    EXPECT_EQ(0u, GetUtf8StringLength(source, source));
    wchar_t dest[2] = {7, 7};
    const unsigned char* cursor = source;
    EXPECT_EQ(0u, Utf8ToWide(source, source, dest, dest + 2));
    EXPECT_EQ(0u, Utf8ToWideNoOverflow(cursor, source, dest, dest + 2));
    EXPECT_EQ(7, dest[0]);
    wchar_t c = 7;
    EXPECT_EQ(source, ConvertNextUtf8Character(source, source, c));
    EXPECT_EQ(0, c);
  }
}

}  // namespace
}  // namespace vo::qel
