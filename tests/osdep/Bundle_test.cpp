#include "qel/osdep/Bundle.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace vo::qel::osdep {
namespace {

const std::string kToolsDir = LORVATH_TOOLS_DIR;

// Loads the stand-in modules once for the whole program; they stay loaded.
class BundleTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    runtime_ = ::dlopen((kToolsDir + "/ombrix_runtime.so").c_str(), RTLD_NOW | RTLD_GLOBAL);
    hsx_ = ::dlopen((kToolsDir + "/ombrix_hsx.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  void SetUp() override {
    ASSERT_TRUE(runtime_ != nullptr && hsx_ != nullptr)
        << "stand-in modules missing in " << kToolsDir << ": " << ::dlerror();
  }

  static BundleRef Runtime() { return BundleFromHandle(runtime_); }
  static BundleRef Hsx() { return BundleFromHandle(hsx_); }
  static BundleRef Main() { return BundleFromHandle(::dlopen(nullptr, RTLD_NOW)); }

  static inline void* runtime_ = nullptr;
  static inline void* hsx_ = nullptr;
};

TEST_F(BundleTest, ListFollowsLoadOrderMainFirstWithoutVdso) {
  const auto bundles = GetAllBundles();
  ASSERT_GE(bundles.size(), 3u);
  EXPECT_EQ(Main(), bundles.front());
  const auto runtime = std::find(bundles.begin(), bundles.end(), Runtime());
  const auto hsx = std::find(bundles.begin(), bundles.end(), Hsx());
  ASSERT_NE(bundles.end(), hsx);
  EXPECT_LT(runtime, hsx);
  for (BundleRef bundle : bundles) {
    ::testing::internal::CaptureStderr();
    ShowBundle(bundle);
    const std::string line = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::string::npos, line.find("vdso")) << line;
  }
}

// Which module a name or an identifier belongs to, and the description lines, are also
// seen through the library in the engine binding test.
TEST_F(BundleTest, IdentifiersMatchExactly) {
  EXPECT_STREQ("com.ombrix.hsx", GetBundleIdentifier(Hsx()));
  EXPECT_EQ(nullptr, GetBundleIdentifier(Main())) << "reaches the engine's symbol, not its own";
  EXPECT_EQ(Runtime(), GetBundleWithIdentifier("com.ombrix.runtime"));
  EXPECT_EQ(Hsx(), GetBundleWithIdentifier("com.ombrix.hsx"));
  EXPECT_EQ(nullptr, GetBundleWithIdentifier("com.ombrix.HSX"));
  EXPECT_EQ(nullptr, GetBundleWithIdentifier(nullptr));
  ::testing::internal::CaptureStderr();
  ShowBundle(nullptr);
  EXPECT_EQ("Bundle <null> (no identifier)\n", ::testing::internal::GetCapturedStderr());
}

}  // namespace
}  // namespace vo::qel::osdep
