// The owners of pointers and handles, SmartPtr and osdep::ScopedHandle: each reference is
// released exactly once, on every path, unless handed over.
#include "qel/SmartPtr.h"

#include <gtest/gtest.h>

#include <vector>

#include "qel/osdep/ScopedHandle.h"

namespace vo::qel {
namespace {

// Release policies that log what they release; the SmartPtr one frees arrays.
using Log = std::vector<const void*>;
Log g_released, g_copied;
struct LoggingRelease {
  template <class T>
  static void release(T* p) noexcept {
    if (p == nullptr) return;
    g_released.push_back(p);
    delete[] p;
  }
  static void Release(int* handle) noexcept {
    if (handle != nullptr) g_released.push_back(handle);
  }
};
using Logged = SmartPtr<wchar_t, NoncopyableSPCopyPolicy<wchar_t>, LoggingRelease,
                        DismissableSPStoragePolicy<wchar_t, ArraySPStoragePolicy<wchar_t>>>;

// Owners release once on scope exit; a dismissed one hands its array over; getRef lets a
// call fill the owner through a pointer reference.
TEST(SmartPtrTest, ReleasesWhatItOwnsOnceUnlessDismissed) {
  g_released.clear();
  const wchar_t *owned = nullptr, *filled = nullptr;
  wchar_t* mine = nullptr;
  {
    Logged none(nullptr), some(new wchar_t[4]), dismissed(new wchar_t[3]{L'a', L'b', 0});
    EXPECT_TRUE(!none);
    owned = some.get();
    mine = dismissed.dismiss();
    Logged byRef(nullptr);
    filled = byRef.getRef() = new wchar_t[1];
  }
  EXPECT_EQ((Log{filled, owned}), g_released);
  EXPECT_STREQ(L"ab", mine);
  delete[] mine;
}

// Handles are plain pointers here. Adopting takes no reference, copies take their own,
// and each is released exactly once.
struct LoggingCopy {
  static int* Copy(int* handle) noexcept { return g_copied.push_back(handle), handle; }
};
using Handle =
    osdep::ScopedHandle<int*,
                        osdep::HandleStoragePolicy<int*, osdep::NullInvalidHandlePolicy<int*>>,
                        LoggingCopy, LoggingRelease>;

TEST(ScopedHandleTest, EachReferenceIsReleasedExactlyOnce) {
  g_released.clear();
  int a = 1, b = 2;
  {
    Handle h(&a);
    h = &b;
    h = nullptr;
    EXPECT_EQ((Log{&a, &b}), g_released);
    h = &a;
    const Handle copy(h);
    Handle assigned;
    assigned = copy;
    assigned = static_cast<const Handle&>(assigned);  // copies before it lets go
    EXPECT_EQ(&a, assigned.get());
    EXPECT_EQ((Log{&a, &a, &a}), g_copied);
    EXPECT_EQ((Log{&a, &b, &a}), g_released);
  }
  EXPECT_EQ((Log{&a, &b, &a, &a, &a, &a}), g_released);
}

}  // namespace
}  // namespace vo::qel
