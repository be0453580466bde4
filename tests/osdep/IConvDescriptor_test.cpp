// No conversion leaves an iconv descriptor open, and conversions on several threads
// at once do not disturb each other. This program interposes iconv_open and
// iconv_close (its own definitions win over libc's for the library code linked into
// it) to count the descriptors opened and closed. Leaked memory is left to the
// sanitizer builds' leak checker.
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

template <class F>
F Next(const char* name) {
  return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" iconv_t iconv_open(const char* tocode, const char* fromcode) {
  static const auto real = Next<iconv_t (*)(const char*, const char*)>("iconv_open");
  const iconv_t cd = real(tocode, fromcode);
  if (cd != reinterpret_cast<iconv_t>(-1)) ++gOpened;
  return cd;
}

extern "C" int iconv_close(iconv_t cd) {
  static const auto real = Next<int (*)(iconv_t)>("iconv_close");
  ++gClosed;
  return real(cd);
}

namespace vo::qel::osdep {
namespace {

// Three conversions that open a descriptor (both directions with '?' replacement,
// and into a buffer) and one that fails to open one; true when all came out right.
bool ConvertEveryWay(int round) {
  static const std::string narrow = "caf\xC3\xA9 \xE6\x97\xA5\xFF";
  static const std::wstring wide = L"caf\u00E9 \u65E5\U0001F600";
  const bool ascii = round % 2 != 0;
  const char* const charset = ascii ? "US-ASCII" : "";
  std::unique_ptr<wchar_t[]> w(AnsiToWide(narrow.data(), narrow.data() + narrow.size(), charset));
  std::unique_ptr<char[]> n(WideToAnsi(wide.c_str(), charset));
  wchar_t room[4];
  wchar_t* roomEnd = room + 4;
  AnsiToWideNoAlloc(narrow.data(), narrow.data() + 3, charset, room, roomEnd);
  try {
    delete[] WideToAnsi(wide.c_str(), "NO-SUCH-CHARSET");
    return false;
  } catch (const exception::InvalidLocale&) {
  }
  return std::wstring(w.get()) == (ascii ? L"caf?? ????" : L"caf\u00E9 \u65E5?") &&
         std::string(n.get()) == (ascii ? "caf? ??" : "caf\xC3\xA9 \xE6\x97\xA5\xF0\x9F\x98\x80") &&
         std::wstring(room, roomEnd) == L"caf";
}

TEST(IConvDescriptorTest, ThreadsConvertingAtOnceCloseEveryDescriptor) {
  ASSERT_EQ("", testing::EnsureLocale("C.UTF-8"));
  testing::ScopedProcessLocale locale("C.UTF-8");
  ASSERT_TRUE(locale.ok());
  const long openedBefore = gOpened.load();
  const long closedBefore = gClosed.load();
  // Four conversions a round: a million in all, so that even a rare leaking path
  // would leave descriptors behind.
  constexpr int kThreads = 4, kRounds = 62500;
  std::vector<int> failures(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&failures, t] {
      for (int i = 0; i < kRounds; ++i) failures[t] += !ConvertEveryWay(i);
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(std::vector<int>(kThreads, 0), failures);
  EXPECT_EQ(3L * kThreads * kRounds, gOpened.load() - openedBefore);
  EXPECT_EQ(gOpened.load() - openedBefore, gClosed.load() - closedBefore);
}

}  // namespace
}  // namespace vo::qel::osdep
