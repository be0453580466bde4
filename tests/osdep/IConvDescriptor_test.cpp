// No path through a conversion leaves an iconv descriptor open. This program
// interposes iconv_open and iconv_close (its own definitions win over libc's for
// the library code linked into it) to count the descriptors alive, and checks that
// many conversions leave the heap where it was.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <iconv.h>
#include <malloc.h>

#include <atomic>
#include <string>

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

namespace vo {
namespace qel {
namespace osdep {
namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define LORVATH_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define LORVATH_SANITIZED 1
#endif
#endif

// One round of every kind of conversion, successful and failing (an unknown set,
// the failure switch, text invalid for the "carbon" route), through iconv and the
// "carbon" route.
void ConvertEveryWay(int round) {
  static const std::string narrow = "caf\xC3\xA9 \xE6\x97\xA5\xFF";
  static const std::wstring wide = L"caf\u00E9 \u65E5\U0001F600";
  const char* const charset = (round % 2 == 0) ? "" : "US-ASCII";
  auto failing = [](auto convert) {
    try {
      delete[] convert();
    } catch (const std::exception&) {
    }
  };
  delete[] AnsiToWide(narrow.data(), narrow.data() + narrow.size(), charset);
  delete[] WideToAnsi(wide.c_str(), charset);
  wchar_t room[4];
  wchar_t* roomEnd = room + 4;
  AnsiToWideNoAlloc(narrow.data(), narrow.data() + 4, charset, room, roomEnd);
  delete[] WideToAnsi(wide.c_str(), "carbon");
  failing([&] { return AnsiToWide(narrow.data(), narrow.data() + narrow.size(), "carbon"); });
  if (round % 3 == 0) {
    failing([&] { return AnsiToWide(narrow.data(), narrow.data() + 3, "NO-SUCH-CHARSET"); });
  } else if (round % 3 == 1) {
    failing([&] { return WideToAnsi(wide.c_str(), "NO-SUCH-CHARSET"); });
  } else {
    MakeWideToAnsiThrow(true);
    failing([&] { return WideToAnsi(wide.c_str(), charset); });
    MakeWideToAnsiThrow(false);
  }
}

TEST(IConvDescriptorTest, ConversionsCloseEveryDescriptorAndKeepTheHeapFlat) {
  std::string why;
  ASSERT_TRUE(testing::EnsureLocale("C.UTF-8", "C", "UTF-8", &why)) << why;
  testing::ScopedProcessLocale locale("C.UTF-8");
  ASSERT_TRUE(locale.ok());

  for (int i = 0; i < 1000; ++i) ConvertEveryWay(i);  // fills glibc's converter caches
  const long openedBefore = gOpened.load();
  ASSERT_EQ(openedBefore, gClosed.load());
  const size_t heapBefore = ::mallinfo2().uordblks;

  const int kRounds = 40000;  // three descriptors per round
  for (int i = 0; i < kRounds; ++i) ConvertEveryWay(i);

  EXPECT_EQ(gOpened.load(), gClosed.load());
  EXPECT_EQ(3L * kRounds, gOpened.load() - openedBefore);
#ifndef LORVATH_SANITIZED
  // Every leaked block costs at least 16 bytes: one per conversion would show as
  // megabytes here. (Under the sanitizers malloc is theirs and LeakSanitizer
  // checks the heap at exit.)
  const size_t heapAfter = ::mallinfo2().uordblks;
  EXPECT_LT(heapAfter, heapBefore + 64 * 1024) << heapBefore << " -> " << heapAfter;
#else
  static_cast<void>(heapBefore);
#endif
}

}  // namespace
}  // namespace osdep
}  // namespace qel
}  // namespace vo
