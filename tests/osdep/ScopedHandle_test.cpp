#include "qel/osdep/ScopedHandle.h"

#include <gtest/gtest.h>

#include <vector>

namespace vo::qel::osdep {
namespace {

// Handles are plain pointers here; the policies log every copy and release.
std::vector<int*> g_copied, g_released;

struct LoggingCopy {
  static int* Copy(int* handle) noexcept { return g_copied.push_back(handle), handle; }
};
struct LoggingRelease {
  static void Release(int* handle) noexcept {
    if (handle != nullptr) g_released.push_back(handle);
  }
};
using Handle = ScopedHandle<int*, HandleStoragePolicy<int*, NullInvalidHandlePolicy<int*>>,
                            LoggingCopy, LoggingRelease>;
using Log = std::vector<int*>;

// Adopting takes no reference, copies take their own, and each is released exactly once.
TEST(ScopedHandleTest, EachReferenceIsReleasedExactlyOnce) {
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
}  // namespace vo::qel::osdep
