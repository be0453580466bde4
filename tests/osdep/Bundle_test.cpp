// Loaded modules: the list in load order, main program first and without the vdso,
// and exact identifiers, on the stand-in modules of the host.
#include "qel/osdep/Bundle.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace vo::qel::osdep {
namespace {

TEST(BundleTest, LoadOrderAndExactIdentifiers) {
  const std::string tools = LORVATH_TOOLS_DIR;
  const BundleRef runtime =
      BundleFromHandle(::dlopen((tools + "/ombrix_runtime.so").c_str(), RTLD_NOW | RTLD_GLOBAL));
  const BundleRef hsx =
      BundleFromHandle(::dlopen((tools + "/ombrix_hsx.so").c_str(), RTLD_NOW | RTLD_LOCAL));
  ASSERT_TRUE(runtime != nullptr && hsx != nullptr) << "stand-in modules missing in " << tools;
  const BundleRef main = BundleFromHandle(::dlopen(nullptr, RTLD_NOW));
  const auto bundles = GetAllBundles();
  ASSERT_FALSE(bundles.empty());
  EXPECT_EQ(main, bundles.front());
  EXPECT_LT(std::find(bundles.begin(), bundles.end(), runtime),
            std::find(bundles.begin(), bundles.end(), hsx));
  EXPECT_NE(bundles.end(), std::find(bundles.begin(), bundles.end(), hsx));
  ::testing::internal::CaptureStderr();
  for (BundleRef bundle : bundles) ShowBundle(bundle);
  const std::string lines = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::string::npos, lines.find("vdso")) << lines;
  EXPECT_STREQ("com.ombrix.hsx", GetBundleIdentifier(hsx));
  EXPECT_EQ(nullptr, GetBundleIdentifier(main)) << "reaches the engine's symbol, not its own";
  EXPECT_EQ(hsx, GetBundleWithIdentifier("com.ombrix.hsx"));
  EXPECT_EQ(nullptr, GetBundleWithIdentifier("com.ombrix.HSX"));
  EXPECT_EQ(nullptr, GetBundleWithIdentifier(nullptr));
}

}  // namespace
}  // namespace vo::qel::osdep
