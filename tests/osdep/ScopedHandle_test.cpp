#include "qel/osdep/ScopedHandle.h"

#include <gtest/gtest.h>

#include <vector>

namespace vo::qel::osdep {
namespace {

// Handles are plain pointers here; the policies log every copy and release.
std::vector<int*> g_copied, g_released;

struct LoggingCopy {
  static int* Copy(int* handle) noexcept {
    g_copied.push_back(handle);
    return handle;
  }
};
struct LoggingRelease {
  static void Release(int* handle) noexcept {
    if (handle != nullptr) g_released.push_back(handle);
  }
};
using Handle = ScopedHandle<int*, HandleStoragePolicy<int*, NullInvalidHandlePolicy<int*>>,
                            LoggingCopy, LoggingRelease>;
using Log = std::vector<int*>;

TEST(ScopedHandleTest, EachReferenceIsReleasedExactlyOnce) {
  int a = 1, b = 2;
  {
    Handle h(&a);
    EXPECT_EQ(Log{}, g_copied) << "adopting takes no reference";
    h = &b;
    h = nullptr;
    EXPECT_EQ((Log{&a, &b}), g_released);
    h = &a;
    const Handle copy(h);
    Handle assigned;
    assigned = copy;
    const Handle& self = assigned;
    assigned = self;  // takes a new reference before it gives up the old one
    EXPECT_EQ(&a, assigned.get());
    EXPECT_EQ((Log{&a, &a, &a}), g_copied) << "copies take their own reference";
    EXPECT_EQ((Log{&a, &b, &a}), g_released);
  }
  EXPECT_EQ(g_copied.size() + 3, g_released.size()) << "adopted a, b, a; copied a three times";
}

}  // namespace
}  // namespace vo::qel::osdep
