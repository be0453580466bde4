#include "qel/osdep/ScopedHandle.h"

#include <gtest/gtest.h>

#include <vector>

#include "qel/osdep/CFString.h"

namespace vo {
namespace qel {
namespace osdep {
namespace {

// Handles are plain pointers here; the policies log every copy and release.
struct Log {
  static std::vector<int*> copied;
  static std::vector<int*> released;
};
std::vector<int*> Log::copied;
std::vector<int*> Log::released;

struct LoggingCopy {
  static int* Copy(int* handle) noexcept {
    Log::copied.push_back(handle);
    return handle;
  }
};

struct LoggingRelease {
  static void Release(int* handle) noexcept {
    if (handle != nullptr) Log::released.push_back(handle);
  }
};

using Handle = ScopedHandle<int*, HandleStoragePolicy<int*, NullInvalidHandlePolicy<int*>>,
                            LoggingCopy, LoggingRelease>;

class ScopedHandleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Log::copied.clear();
    Log::released.clear();
  }
  int a_ = 1, b_ = 2;
};

TEST_F(ScopedHandleTest, DefaultIsInvalidAndReleasesNothing) {
  {
    Handle h;
    EXPECT_FALSE(h.isValid());
    EXPECT_EQ(nullptr, h.get());
  }
  EXPECT_TRUE(Log::released.empty());
}

TEST_F(ScopedHandleTest, AdoptsAndReleasesOnce) {
  {
    Handle h(&a_);
    EXPECT_TRUE(h.isValid());
    EXPECT_EQ(&a_, h.get());
    EXPECT_TRUE(Log::copied.empty()) << "adopting takes no reference";
  }
  EXPECT_EQ(std::vector<int*>{&a_}, Log::released);
}

TEST_F(ScopedHandleTest, AssigningReleasesThePreviousHandleOnce) {
  {
    Handle h(&a_);
    h = &b_;
    EXPECT_EQ(&b_, h.get());
    EXPECT_EQ(std::vector<int*>{&a_}, Log::released);
    h = nullptr;
    EXPECT_FALSE(h.isValid());
    EXPECT_EQ((std::vector<int*>{&a_, &b_}), Log::released);
    h = nullptr;
    EXPECT_EQ(2u, Log::released.size());
  }
  EXPECT_EQ(2u, Log::released.size()) << "nothing left to release";
}

TEST_F(ScopedHandleTest, CopiesTakeTheirOwnReference) {
  {
    Handle h(&a_);
    Handle copy(h);
    EXPECT_EQ(std::vector<int*>{&a_}, Log::copied);
    Handle assigned;
    assigned = h;
    EXPECT_EQ(&a_, assigned.get());
    EXPECT_EQ(2u, Log::copied.size());
  }
  EXPECT_EQ((std::vector<int*>{&a_, &a_, &a_}), Log::released);
}

// The CoreFoundation instantiation with real strings: under AddressSanitizer, a
// reference released twice or too early, or never, fails the run.
TEST_F(ScopedHandleTest, CoreFoundationStrings) {
  ScopedHandle<CFStringRef> s(CFStringCreateWithCString("abc", kCFStringEncodingASCII));
  ASSERT_TRUE(s.isValid());
  EXPECT_EQ(3, CFStringGetLength(s.get()));
  {
    ScopedHandle<CFStringRef> copy(s);  // retained
    EXPECT_EQ(s.get(), copy.get());
  }
  EXPECT_EQ(3, CFStringGetLength(s.get())) << "the copy released only its own reference";
  s = CFStringCreateWithCString("de", kCFStringEncodingASCII);
  EXPECT_EQ(2, CFStringGetLength(s.get()));
  s = nullptr;
  EXPECT_FALSE(s.isValid());
  s = CFStringCreateWithCString("kept until the end", kCFStringEncodingASCII);
}

}  // namespace
}  // namespace osdep
}  // namespace qel
}  // namespace vo
