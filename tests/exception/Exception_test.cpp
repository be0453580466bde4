#include "qel/exception/Exception.h"

#include <gtest/gtest.h>

#include <string>

#include "qel/exception/DetailedException.h"
#include "tests/support/AlertRecorder.h"

namespace vo::qel::exception {
namespace {

// The host sees the code as a signed value; the base class has no valid code.
TEST(ExceptionTest, OmbrixCodeOfTheBaseIsReported) {
  testing::AlertRecorder alerts;
  EXPECT_EQ(-1967362033, InvalidArgument().getOmbrixErrorCode());
  EXPECT_TRUE(alerts.alerts().empty());
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(-1, Exception().getOmbrixErrorCode());
  EXPECT_EQ(
      "exception/Exception(#): Assertion failed: "
      "Client received an exception with invalid error code!\a\n",
      testing::WithoutLineNumber(::testing::internal::GetCapturedStderr()));
  ASSERT_EQ(1u, alerts.alerts().size());
  EXPECT_NE(std::string::npos, alerts.alerts()[0].text.find("0xFFFFFFFF != errorCode"));
}

TEST(ExceptionTest, ThrowSiteIsStamped) {
  try {
    throw AddFileAndLineInfo(OutOfRange(), "osdep/path", 77);
  } catch (const Exception& e) {
    EXPECT_STREQ("osdep/path", e.getFileName());
    EXPECT_EQ(77u, e.getLineNumber());
  }
}

// The detail follows the base text (the string kinds' own are checked with them).
TEST(ExceptionTest, DetailFollowsTheBaseText) {
  const AccessDenied denied(String(L"/var/lib/lorvath"));
  EXPECT_STREQ("Access denied: /var/lib/lorvath", denied.what());
  EXPECT_EQ(0x8ABC7019u, denied.getErrorCode());
}

}  // namespace
}  // namespace vo::qel::exception
