#include "qel/WideToUtf8.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "qel/exception/Exception.h"
#include "tests/support/AlertRecorder.h"

namespace vo::qel {
namespace {

using exception::BufferOverflow;
using exception::InvalidArgument;
using testing::AlertRecorder;
using Values = std::vector<uint32_t>;

// Wide text in a heap block of exactly its size (AddressSanitizer builds catch any
// read past the end).
struct Wide {
  Wide(const Values& values) : size(values.size()), data(new wchar_t[size + (size == 0)]) {
    std::copy(values.begin(), values.end(), data.get());
  }
  const wchar_t* begin() const { return data.get(); }
  const wchar_t* end() const { return data.get() + size; }
  size_t size;
  std::unique_ptr<wchar_t[]> data;
};

// Runs `f` and returns the messages of the failed-check reports it showed as alerts;
// `err` receives what was written on standard error.
template <class F>
std::vector<std::string> Reported(F f, std::string* err = nullptr) {
  AlertRecorder alerts;
  ::testing::internal::CaptureStderr();
  f();
  const std::string written = ::testing::internal::GetCapturedStderr();
  if (err != nullptr) *err = written;
  std::vector<std::string> out;
  for (const auto& alert : alerts.alerts()) {
    const size_t from = alert.text.find("Message: ") + 9;
    out.push_back(alert.text.substr(from, alert.text.find('\n', from) - from));
  }
  return out;
}

// Every form is compared with a reference encoder on random texts by
// Utf8Codec_test, which also counts the reports of values above 0x7FFFFFFF; these
// are the reports' texts, the caller errors and null sources.
TEST(WideToUtf8Test, ValueOutOfRangeReports) {
  const Wide wide({'a', 0xFFFFFFFFu, 'b'});
  std::string err;
  EXPECT_EQ(std::vector<std::string>{"Invalid unicode range"},
            Reported([&] { GetUtf8EncodingBytes(wide.begin(), wide.end()); }, &err));
  EXPECT_EQ("WideToUtf8(#): Assertion failed: Invalid unicode range\a\n",
            testing::WithoutLineNumber(err));
  unsigned char dest[3];
  EXPECT_EQ((std::vector<std::string>{"Invalid unicode range", "invalid unicode"}),
            Reported([&] { WideToUtf8(wide.begin(), wide.end(), dest, dest + 3); }));
}

TEST(WideToUtf8Test, MeasuringWithALimit) {
  const std::string cut =
      "UTF-8 string representation overflowed a size_t. The string will be truncated";
  struct {
    const char* name;
    Values values;
    size_t limit, size;
    bool reported;
  } const cases[] = {
      {"cuts_before_two_byte", {0x61, 0xE9}, 2, 1, true},
      {"zero_limit", {0x61}, 0, 0, true},
      {"zero_limit_empty_text", {}, 0, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Wide wide(c.values);
    EXPECT_EQ(std::vector<std::string>(c.reported, cut), Reported([&] {
                EXPECT_EQ(c.size,
                          GetUtf8EncodingBytesWithBufferLimit(wide.begin(), wide.end(), c.limit));
              }));
  }
}

TEST(WideToUtf8Test, NullSourcesAndBadDestinations) {
  EXPECT_EQ(0, std::unique_ptr<unsigned char[]>(WideToUtf8(nullptr, nullptr))[0]);
  EXPECT_EQ(0u, GetUtf8EncodingBytes(nullptr, nullptr));
  EXPECT_EQ(0u, GetUtf8EncodingBytesWithBufferLimit(nullptr, nullptr, 0));
  unsigned char dest[4] = {7, 7};
  const wchar_t* cursor = nullptr;
  EXPECT_EQ(0u, WideToUtf8(nullptr, nullptr, dest, dest + 2));
  EXPECT_EQ(0u, WideToUtf8NoOverflow(cursor, nullptr, dest, dest + 2));
  EXPECT_EQ(7, dest[0]);

  const Wide wide({'a', 'b'});
  cursor = wide.begin();
  EXPECT_THROW(WideToUtf8(wide.begin(), wide.end(), nullptr, dest + 4), InvalidArgument);
  EXPECT_THROW(WideToUtf8(wide.begin(), wide.end(), dest + 3, dest + 1), InvalidArgument);
  EXPECT_THROW(WideToUtf8NoOverflow(cursor, wide.end(), nullptr, nullptr), InvalidArgument);

  // An empty destination is reported, converts nothing, and the throwing form then
  // throws unless there was nothing to convert.
  std::string err;
  const auto reports = Reported(
      [&] {
        EXPECT_EQ(0u, WideToUtf8NoOverflow(cursor, wide.end(), dest, dest));
        EXPECT_EQ(wide.begin(), cursor);
        EXPECT_THROW(WideToUtf8(wide.begin(), wide.end(), dest, dest), BufferOverflow);
        EXPECT_EQ(0u, WideToUtf8(wide.end(), wide.end(), dest, dest));
      },
      &err);
  EXPECT_EQ(3u, reports.size());
  EXPECT_EQ("WideToUtf8(#): Assertion failed: destBegin < destEnd\a\n",
            testing::WithoutLineNumber(err.substr(0, err.find('\n') + 1)));
}

}  // namespace
}  // namespace vo::qel
