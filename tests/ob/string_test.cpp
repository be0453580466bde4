// Host strings and host error codes through the real stand-in engine, loaded with dlopen
// as the host loads it: every reader and writer on empty, embedded-zero and non-ASCII
// text, failed and withdrawn resizes, and the exact texts of OBErrorException, with the
// engine's live handles counted so that every handle it made is seen released.
#include "qel/ob/string.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "qel/exception/Exception.h"
#include "qel/ob/ThrowIfOBError.h"
#include "tests/support/AlertRecorder.h"
#include "tests/support/LorvathLibrary.h"

namespace vo::qel::ob::string {
namespace {

using lorvath::testing::HostString;

class HostStringTest : public ::testing::Test {
 protected:
  void SetUp() override {
    engine_ = ::dlopen((std::string(LORVATH_TOOLS_DIR) + "/ombrix_runtime.so").c_str(),
                       RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(nullptr, engine_) << ::dlerror();
    SetOmbrixRunTimeBundle(static_cast<Lorvath_BundleRef>(engine_));
    live_ = reinterpret_cast<int32_t (*)()>(::dlsym(engine_, "OmbrixStandIn_LiveHandles"));
    calls_ = reinterpret_cast<int32_t (*)()>(::dlsym(engine_, "OmbrixStandIn_CallCount"));
    ASSERT_TRUE(live_ && calls_);
  }
  void TearDown() override {
    if (engine_ == nullptr) return;
    EXPECT_EQ(0, live_());  // every handle the engine made has been released
    SetOmbrixRunTimeBundle(nullptr);
    ::dlclose(engine_);
  }
  static std::string Bytes(LStrHandle h) { return std::string((const char*)(*h)->str, (*h)->cnt); }

  void* engine_ = nullptr;
  int32_t (*live_)() = nullptr;
  int32_t (*calls_)() = nullptr;
};

const std::string kE9 = "\xC3\xA9";  // U+00E9 in UTF-8

TEST_F(HostStringTest, Readers) {
  const struct {
    const char* name;
    std::function<HostString()> make;
    std::string bytes;
    std::wstring wide;
  } rows[] = {
      {"null_record", HostString::WithNullRecord, "", L""},
      {"count_0", [] { return HostString(""); }, "", L""},
      {"embedded_zero", [] { return HostString(std::string("a\0b", 3)); }, std::string("a\0b", 3),
       std::wstring(L"a\0b", 3)},
      {"e_acute", [] { return HostString(kE9); }, kE9, L"\u00E9"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    HostString host = row.make();
    for (LStrHandle h : {host.handle(), LStrHandle{}}) {
      const bool null = h == nullptr;
      const std::string bytes = null ? "" : row.bytes;
      const std::wstring wide = null ? L"" : row.wide;
      EXPECT_EQ(bytes, std::string(LStrHandleToQelANSIString(h).c_str(), bytes.size()));
      EXPECT_EQ(bytes.size(), ConstLStrHToQelANSIString(h).length());
      for (String s : {LStrHandleToQelString(h), LStrHandleToQelString(h, k_UTF8_ENCODING)}) {
        EXPECT_EQ(wide, std::wstring(s.c_str(), s.length()));
      }
      for (OBStringEncoding e : {k_SYSTEM_ENCODING, k_UTF8_ENCODING}) {
        const Utf8String u = LStrHandleToUtf8String(h, e);
        EXPECT_EQ(bytes, std::string((const char*)u.c_str(), u.length()));
      }
      const AutoBuffer b = LStrHandleToAutoBuffer(h);
      EXPECT_EQ(bytes, std::string((const char*)b.Data(), b.Len()));
    }
  }
  const HostString negative = HostString::WithCountOnly(-1);
  LStrHandle h = negative.handle();
  for (const auto& read : std::vector<std::function<void()>>{
           [&] { LStrHandleToQelANSIString(h); }, [&] { LStrHandleToQelString(h); },
           [&] { LStrHandleToUtf8String(h, k_UTF8_ENCODING); },
           [&] { LStrHandleToAutoBuffer(h); }}) {
    EXPECT_THROW(read(), exception::InvalidArgument);
  }
}

TEST_F(HostStringTest, Writers) {
  using Writer = std::function<void(const std::string&, LStrHandle&)>;
  const auto u8 = [](const std::string& s) {
    return Utf8String((const unsigned char*)s.data(), s.size());
  };
  const auto wide = [&](const std::string& s) { return Utf8StringToString(u8(s)); };
  // clang-format off
  const struct {
    const char* name;
    Writer write;
  } writers[] = {
    {"ansi", [](auto& s, auto& h) { QelANSIStringToLStrHandle(ANSIString(s.data(), s.size()), h); }},
    {"string", [&](auto& s, auto& h) { QelStringToLStrHandle(wide(s), h); }},
    {"string_system", [&](auto& s, auto& h) { QelStringToLStrHandle(wide(s), k_SYSTEM_ENCODING, h); }},
    {"string_utf8", [&](auto& s, auto& h) { QelStringToLStrHandle(wide(s), k_UTF8_ENCODING, h); }},
    {"utf8_system", [&](auto& s, auto& h) { Utf8StringToLStrHandle(u8(s), k_SYSTEM_ENCODING, h); }},
    {"utf8_utf8", [&](auto& s, auto& h) { Utf8StringToLStrHandle(u8(s), k_UTF8_ENCODING, h); }},
    {"buffer", [](auto& s, auto& h) { BufferWrapperToLStrHandle(BufferWrapper((const unsigned char*)s.data(), s.size()), h); }},
  };
  // clang-format on
  for (const auto& writer : writers) {
    SCOPED_TRACE(writer.name);
    LStrHandle h = nullptr;
    for (const std::string& text :
         {std::string(), std::string("a\0b", 3), kE9, std::string("xyz") + kE9, std::string()}) {
      const int32_t calls = calls_();
      writer.write(text, h);  // the first write makes the handle, the others resize it
      EXPECT_EQ(calls + 1, calls_());
      ASSERT_NE(nullptr, h);
      EXPECT_EQ(text, Bytes(h));
    }
    EXPECT_EQ(1, live_());
    DSDisposeHandle(h);
  }
}

TEST_F(HostStringTest, FailedResizeThrowsTheEnginesCodeAndWritesNothing) {
  LStrHandle h = nullptr;
  QelANSIStringToLStrHandle(ANSIString("seven!!"), h);
  const unsigned char* never = reinterpret_cast<const unsigned char*>(&h);  // never read
  try {
    BufferWrapperToLStrHandle(BufferWrapper(never, 0x7FFFFFFF), h);  // past the engine's limit
    ADD_FAILURE() << "no throw";
  } catch (const OBErrorException& e) {
    EXPECT_STREQ("Error Code: 2 (00000002): Memory is full.", e.what());
    EXPECT_EQ(2u, e.getErrorCode());
  }
  const int32_t calls = calls_();
  EXPECT_THROW(BufferWrapperToLStrHandle(BufferWrapper(never, 0x80000000u), h),
               exception::OutOfRange);
  EXPECT_EQ(calls, calls_());  // refused before the host is asked
  EXPECT_EQ("seven!!", Bytes(h));
  DSDisposeHandle(h);
}

TEST_F(HostStringTest, ErrorTexts) {
  const struct {
    int32_t code;
    const char* what;
  } rows[] = {
      {2, "Error Code: 2 (00000002): Memory is full."},
      {-1, "Error Code: -1 (ffffffff): Unexpected error."},
      {12345, "Error Code: 12345 (00003039): Unknown error code or error text unavailable."},
      {5000, "Error Code: 5000 (00001388): Unknown error code or error text unavailable."},
      {5001, "Error Code: 5001 (00001389): "},
  };
  for (const auto& row : rows) {
    try {
      ThrowIfOBError(row.code);
      ADD_FAILURE() << row.code;
    } catch (const OBErrorException& e) {
      EXPECT_STREQ(row.what, e.what());
      EXPECT_EQ(static_cast<uint32_t>(row.code), e.getErrorCode());
      EXPECT_STREQ("ob/ThrowIfOBError", e.getFileName());
      EXPECT_EQ(75u, e.getLineNumber());
      EXPECT_EQ(0, live_());  // the text's handle is released, also when the answer was 0
    }
  }
  const int32_t calls = calls_();
  ThrowIfOBError(0);
  EXPECT_EQ(calls, calls_());
}

TEST_F(HostStringTest, InvalidEncodingIsReportedAndTakesTheSystemBranch) {
  testing::AlertRecorder alerts;
  ::testing::internal::CaptureStderr();
  const HostString ab("ab");
  EXPECT_EQ(L"ab", std::wstring(LStrHandleToQelString(ab.handle(), OBStringEncoding(7)).c_str()));
  EXPECT_EQ("ob/string(201): Assertion failed: invalid encoding\a\n",
            ::testing::internal::GetCapturedStderr());
  ASSERT_EQ(1u, alerts.alerts().size());
  EXPECT_NE(std::string::npos, alerts.alerts()[0].text.find(
                                   "encoding == k_SYSTEM_ENCODING || encoding == k_UTF8_ENCODING"));
}

TEST_F(HostStringTest, WithdrawnEngineIsNoSuccess) {
  SetOmbrixRunTimeBundle(nullptr);
  ASSERT_EQ(0, ::dlclose(engine_));
  engine_ = nullptr;
  ::testing::internal::CaptureStderr();
  LStrHandle h = nullptr;
  EXPECT_THROW(QelANSIStringToLStrHandle(ANSIString("x"), h), exception::NonexistentException);
  EXPECT_EQ(nullptr, h);
  EXPECT_NE(std::string::npos, ::testing::internal::GetCapturedStderr().find("already unloaded"));
}

}  // namespace
}  // namespace vo::qel::ob::string
