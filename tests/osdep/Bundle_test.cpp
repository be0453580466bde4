#include "qel/osdep/Bundle.h"

#include <dlfcn.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace vo {
namespace qel {
namespace osdep {
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
    if (runtime_ == nullptr || hsx_ == nullptr) {
      FAIL() << "stand-in modules missing in " << kToolsDir << ": " << ::dlerror();
    }
  }

  static BundleRef Runtime() { return BundleFromHandle(runtime_); }
  static BundleRef Hsx() { return BundleFromHandle(hsx_); }
  static BundleRef Main() { return BundleFromHandle(::dlopen(nullptr, RTLD_NOW)); }

  static void* runtime_;
  static void* hsx_;
};

void* BundleTest::runtime_ = nullptr;
void* BundleTest::hsx_ = nullptr;

TEST_F(BundleTest, ListFollowsLoadOrderMainFirstWithoutVdso) {
  const auto bundles = GetAllBundles();
  ASSERT_GE(bundles.size(), 3u);
  EXPECT_EQ(Main(), bundles.front());
  const auto runtime = std::find(bundles.begin(), bundles.end(), Runtime());
  const auto hsx = std::find(bundles.begin(), bundles.end(), Hsx());
  ASSERT_NE(bundles.end(), runtime);
  ASSERT_NE(bundles.end(), hsx);
  EXPECT_LT(runtime, hsx);

  const void* const vdso = ::dlopen("linux-vdso.so.1", RTLD_LAZY | RTLD_NOLOAD);
  if (vdso != nullptr) {
    EXPECT_EQ(bundles.end(), std::find(bundles.begin(), bundles.end(), vdso));
  }
  for (BundleRef bundle : bundles) {
    ::testing::internal::CaptureStderr();
    ShowBundle(bundle);
    const std::string line = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::string::npos, line.find("vdso")) << line;
  }
}

TEST_F(BundleTest, NamesCountOnlyWhereTheModuleDefinesThem) {
  const struct {
    const char* name;
    BundleRef bundle;
    const char* symbol;
    void* expected;
  } cases[] = {
      {"own_function", Runtime(), "NumericArrayResize", ::dlsym(runtime_, "NumericArrayResize")},
      {"dependency_function", Runtime(), "malloc", nullptr},
      {"missing_function", Runtime(), "NoSuchFunction", nullptr},
      // dlsym on the main program searches every global module, the engine included.
      {"global_module_through_main", Main(), "NumericArrayResize", nullptr},
      {"null_name", Runtime(), nullptr, nullptr},
  };
  ASSERT_NE(nullptr, ::dlsym(Main(), "NumericArrayResize")) << "the engine should be global";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.expected, GetFunctionPointerForName(c.bundle, c.symbol));
  }
}

TEST_F(BundleTest, Identifiers) {
  const struct {
    const char* name;
    BundleRef bundle;
    const char* expected;
  } cases[] = {
      {"runtime", Runtime(), "com.ombrix.runtime"},
      {"hsx", Hsx(), "com.ombrix.hsx"},
      // The runtime module is global, so the main program's handle reaches its symbol.
      {"main_reaches_but_does_not_own", Main(), nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const char* const identifier = GetBundleIdentifier(c.bundle);
    if (c.expected == nullptr) {
      EXPECT_EQ(nullptr, identifier);
    } else {
      ASSERT_NE(nullptr, identifier);
      EXPECT_STREQ(c.expected, identifier);
    }
  }
  EXPECT_EQ(Runtime(), GetBundleWithIdentifier("com.ombrix.runtime"));
  EXPECT_EQ(Hsx(), GetBundleWithIdentifier("com.ombrix.hsx"));
  EXPECT_EQ(nullptr, GetBundleWithIdentifier("com.ombrix.HSX"));
  EXPECT_EQ(nullptr, GetBundleWithIdentifier("com.ombrix.bundlebroker"));
  EXPECT_EQ(nullptr, GetBundleWithIdentifier(nullptr));
}

TEST_F(BundleTest, DescriptionLineNamesPathAndIdentifier) {
  char exe[4096];
  const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof(exe) - 1);
  ASSERT_GT(n, 0);
  exe[n] = '\0';
  const struct {
    const char* name;
    BundleRef bundle;
    std::string expected;
  } cases[] = {
      {"module", Runtime(),
       "Bundle <" + kToolsDir + "/ombrix_runtime.so> (com.ombrix.runtime)\n"},
      {"main_program", Main(), "Bundle <" + std::string(exe) + "> (no identifier)\n"},
      {"null", nullptr, "Bundle <null> (no identifier)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ::testing::internal::CaptureStderr();
    ShowBundle(c.bundle);
    EXPECT_EQ(c.expected, ::testing::internal::GetCapturedStderr());
  }
}

}  // namespace
}  // namespace osdep
}  // namespace qel
}  // namespace vo
