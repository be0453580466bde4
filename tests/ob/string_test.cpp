// Host strings and error codes through the real stand-in engine, loaded with dlopen as the
// host loads it: every reader and writer on empty, embedded-zero and non-ASCII text, failed
// and withdrawn resizes, exact error texts, and every handle the engine made released.
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
    ASSERT_NE(nullptr, live_);
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
};

const std::string kE9 = "\xC3\xA9";  // U+00E9 in UTF-8

TEST_F(HostStringTest, Readers) {
  const struct {
    std::function<HostString()> make;
    std::string bytes;
    std::wstring wide;
  } rows[] = {
      {HostString::WithNullRecord, "", L""},
      {[] { return HostString(""); }, "", L""},
      {[] { return HostString("x"); }, "x", L"x"},
      {[] { return HostString(std::string("a\0b", 3)); }, {"a\0b", 3}, {L"a\0b", 3}},
      {[] { return HostString(kE9); }, kE9, L"\u00E9"},
  };
  for (const auto& row : rows) {
    HostString host = row.make();
    for (LStrHandle h : {host.handle(), LStrHandle{}}) {
      SCOPED_TRACE(row.bytes + (h ? "" : " as a null handle"));
      const std::string bytes = h ? row.bytes : "";
      const std::wstring wide = h ? row.wide : L"";
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
  EXPECT_THROW(LStrHandleToAutoBuffer(negative.handle()), exception::InvalidArgument);
  // An unknown encoding is reported and read as the system's.
  testing::AlertRecorder alerts;
  const HostString ab("ab");
  EXPECT_EQ(L"ab", std::wstring(LStrHandleToQelString(ab.handle(), OBStringEncoding(7)).c_str()));
  EXPECT_EQ(std::vector<std::string>{"ob/string(201) encoding == k_SYSTEM_ENCODING || encoding == "
                                     "k_UTF8_ENCODING | invalid encoding"},
            alerts.take());
}

TEST_F(HostStringTest, Writers) {
  using Writer = std::function<void(const std::string&, LStrHandle&)>;
  const auto u8 = [](const std::string& s) {
    return Utf8String((const unsigned char*)s.data(), s.size());
  };
  const auto wide = [&](const std::string& s) { return Utf8StringToString(u8(s)); };
  // clang-format off
  const Writer writers[] = {
    [](auto& s, auto& h) { QelANSIStringToLStrHandle(ANSIString(s.data(), s.size()), h); },
    [&](auto& s, auto& h) { QelStringToLStrHandle(wide(s), h); },
    [&](auto& s, auto& h) { QelStringToLStrHandle(wide(s), k_UTF8_ENCODING, h); },
    [&](auto& s, auto& h) { Utf8StringToLStrHandle(u8(s), k_SYSTEM_ENCODING, h); },
    [&](auto& s, auto& h) { Utf8StringToLStrHandle(u8(s), k_UTF8_ENCODING, h); },
    [](auto& s, auto& h) { BufferWrapperToLStrHandle(BufferWrapper((const unsigned char*)s.data(), s.size()), h); },
  };
  // clang-format on
  for (const Writer& write : writers) {
    SCOPED_TRACE(&write - writers);
    LStrHandle h = nullptr;
    for (const std::string& text :
         {std::string(), std::string("a\0b", 3), kE9, "xyz" + kE9, std::string()}) {
      write(text, h);  // the first write makes the handle, the others resize it
      ASSERT_NE(nullptr, h);
      EXPECT_EQ(text, Bytes(h));
    }
    EXPECT_EQ(1, live_());
    DSDisposeHandle(h);
  }
}

// A failed resize throws the engine's code and writes nothing.
TEST_F(HostStringTest, ErrorTextsAndAFailedResize) {
  LStrHandle h = nullptr;
  QelANSIStringToLStrHandle(ANSIString("seven!!"), h);
  const unsigned char* never = reinterpret_cast<const unsigned char*>(&h);  // never read
  const struct {
    int32_t code;
    std::function<void()> run;  // ThrowIfOBError(code) when empty
    const char* what;
  } rows[] = {
      {2, [&] { BufferWrapperToLStrHandle(BufferWrapper(never, 0x7FFFFFFF), h); },
       " (00000002): Memory is full."},  // past the engine's limit
      {-1, {}, " (ffffffff): Unexpected error."},
      {12345, {}, " (00003039): Unknown error code or error text unavailable."},
      {5000, {}, " (00001388): Unknown error code or error text unavailable."},
      {5001, {}, " (00001389): "},
  };
  for (const auto& row : rows) {
    const std::string code = std::to_string(row.code);
    try {
      row.run ? row.run() : ThrowIfOBError(row.code);
      ADD_FAILURE() << code << " did not throw";
    } catch (const OBErrorException& e) {
      EXPECT_EQ(code + " ob/ThrowIfOBError:75 Error Code: " + code + row.what,
                std::to_string(int32_t(e.getErrorCode())) + " " + e.getFileName() + ":" +
                    std::to_string(e.getLineNumber()) + " " + e.what());
    }
    EXPECT_EQ(1, live_());  // only h: the text's handle is released, also when the answer was 0
  }
  ThrowIfOBError(0);
  EXPECT_THROW(BufferWrapperToLStrHandle(BufferWrapper(never, 0x80000000u), h),
               exception::OutOfRange);
  EXPECT_EQ("seven!!", Bytes(h));
  DSDisposeHandle(h);
}

TEST_F(HostStringTest, WithdrawnEngineIsNoSuccess) {
  SetOmbrixRunTimeBundle(nullptr);
  ASSERT_EQ(0, ::dlclose(engine_));
  engine_ = nullptr;
  LStrHandle h = nullptr;
  EXPECT_THROW(QelANSIStringToLStrHandle(ANSIString("x"), h), exception::NonexistentException);
  EXPECT_EQ(nullptr, h);
}

}  // namespace
}  // namespace vo::qel::ob::string
