// No conversion leaves an iconv descriptor open, and conversions on several threads
// at once do not disturb each other. This program's own iconv_open and iconv_close
// win over libc's for the library code linked into it and count the descriptors.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <iconv.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "qel/exception/Exception.h"
#include "qel/osdep/AnsiToWide.h"
#include "tests/support/TestLocales.h"

namespace {
std::atomic<long> gOpened{0};
std::atomic<long> gClosed{0};
}  // namespace

extern "C" iconv_t iconv_open(const char* tocode, const char* fromcode) {
  static const auto real =
      reinterpret_cast<iconv_t (*)(const char*, const char*)>(::dlsym(RTLD_NEXT, "iconv_open"));
  const iconv_t cd = real(tocode, fromcode);
  if (cd != reinterpret_cast<iconv_t>(-1)) ++gOpened;
  return cd;
}

extern "C" int iconv_close(iconv_t cd) {
  static const auto real = reinterpret_cast<int (*)(iconv_t)>(::dlsym(RTLD_NEXT, "iconv_close"));
  ++gClosed;
  return real(cd);
}

namespace vo::qel::osdep {
namespace {

// Both directions with '?' replacement and into a buffer (three descriptors), then a
// set that fails to open; in the locale's set or in ASCII, so that a descriptor
// shared between threads would mix them up.
std::wstring ConvertEveryWay(bool ascii) {
  const std::string narrow = "caf\xC3\xA9 \xE6\x97\xA5\xFF";
  const char* const charset = ascii ? "US-ASCII" : "";
  std::unique_ptr<wchar_t[]> w(AnsiToWide(narrow.data(), narrow.data() + narrow.size(), charset));
  std::unique_ptr<char[]> n(WideToAnsi(L"caf\u00E9 \u65E5\U0001F600", charset));
  wchar_t room[4];
  wchar_t* roomEnd = room + 4;
  AnsiToWideNoAlloc(n.get(), n.get() + 3, charset, room, roomEnd);
  try {
    delete[] WideToAnsi(w.get(), "NO-SUCH-CHARSET");
    return L"no exception";
  } catch (const exception::InvalidLocale&) {
  }
  return w.get() + (L"|" + std::wstring(room, roomEnd));
}

TEST(IConvDescriptorTest, ThreadsConvertingAtOnceCloseEveryDescriptor) {
  ASSERT_EQ("", testing::EnsureLocale("C.UTF-8"));
  testing::ScopedProcessLocale locale("C.UTF-8");
  ASSERT_TRUE(locale.ok());
  const std::wstring expected[] = {ConvertEveryWay(false), ConvertEveryWay(true)};
  EXPECT_NE(expected[0], expected[1]);  // else a mix-up could not show
  const long opened = gOpened.load(), closed = gClosed.load();
  // Four conversions a round, a million in all: even a rare leaking path shows.
  constexpr int kThreads = 4, kRounds = 62500;
  std::vector<int> failures(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) failures[t] += ConvertEveryWay(i % 2) != expected[i % 2];
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(std::vector<int>(kThreads, 0), failures);
  EXPECT_EQ(3L * kThreads * kRounds, gOpened.load() - opened);
  EXPECT_EQ(gOpened.load() - opened, gClosed.load() - closed);
}

}  // namespace
}  // namespace vo::qel::osdep
