#include "qel/SmartPtr.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace vo::qel {
namespace {

// Releases arrays like ArraySPReleasePolicy and logs what it released.
std::vector<const void*> g_released;
struct LoggingRelease {
  template <class T>
  static void release(T* p) noexcept {
    if (p == nullptr) return;
    g_released.push_back(p);
    delete[] p;
  }
};
using Logged = SmartPtr<wchar_t, NoncopyableSPCopyPolicy<wchar_t>, LoggingRelease,
                        DismissableSPStoragePolicy<wchar_t, ArraySPStoragePolicy<wchar_t>>>;

// Owners release once on scope exit and on unwinding; a dismissed one hands its array
// over; getRef lets a call fill the owner through a pointer reference.
TEST(SmartPtrTest, ReleasesWhatItOwnsOnceOnEveryPathUnlessDismissed) {
  const wchar_t *owned = nullptr, *unwound = nullptr, *filled = nullptr;
  wchar_t* mine = nullptr;
  try {
    Logged none(nullptr), some(new wchar_t[4]), dismissed(new wchar_t[3]{L'a', L'b', 0});
    EXPECT_TRUE(!none);
    owned = some.get();
    mine = dismissed.dismiss();
    Logged p(new wchar_t[2]), byRef(nullptr);
    unwound = p.get();
    filled = byRef.getRef() = new wchar_t[1];
    throw std::runtime_error("unwind");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ((std::vector<const void*>{filled, unwound, owned}), g_released);
  EXPECT_STREQ(L"ab", mine);
  delete[] mine;
}

}  // namespace
}  // namespace vo::qel
