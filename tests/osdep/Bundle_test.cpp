#include "qel/osdep/Bundle.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>

namespace vo::qel::osdep {
namespace {

const std::string kToolsDir = LORVATH_TOOLS_DIR;

// Loads the stand-in modules once for the whole program; they stay loaded. Which names a
// bundle defines is proved through the library by the engine binding test.
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

TEST_F(BundleTest, IdentifierAndDescriptionLine) {
  char exe[4096];
  const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof(exe) - 1);
  ASSERT_GT(n, 0);
  exe[n] = '\0';
  const struct {
    const char* name;
    BundleRef bundle;
    const char* identifier;
    std::string line;
  } cases[] = {
      {"runtime", Runtime(), "com.ombrix.runtime",
       "Bundle <" + kToolsDir + "/ombrix_runtime.so> (com.ombrix.runtime)\n"},
      {"hsx", Hsx(), "com.ombrix.hsx",
       "Bundle <" + kToolsDir + "/ombrix_hsx.so> (com.ombrix.hsx)\n"},
      // The runtime module is global, so the main program's handle reaches its symbol.
      {"main_reaches_but_does_not_own", Main(), nullptr,
       "Bundle <" + std::string(exe) + "> (no identifier)\n"},
      {"null", nullptr, nullptr, "Bundle <null> (no identifier)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.bundle != nullptr) {
      const char* const identifier = GetBundleIdentifier(c.bundle);
      EXPECT_EQ(std::string(c.identifier ? c.identifier : "(null)"),
                identifier ? identifier : "(null)");
    }
    ::testing::internal::CaptureStderr();
    ShowBundle(c.bundle);
    EXPECT_EQ(c.line, ::testing::internal::GetCapturedStderr());
  }
  EXPECT_EQ(Runtime(), GetBundleWithIdentifier("com.ombrix.runtime"));
  EXPECT_EQ(Hsx(), GetBundleWithIdentifier("com.ombrix.hsx"));
  EXPECT_EQ(nullptr, GetBundleWithIdentifier("com.ombrix.HSX"));
  EXPECT_EQ(nullptr, GetBundleWithIdentifier(nullptr));
}

}  // namespace
}  // namespace vo::qel::osdep
