#include "qel/exception/Exception.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qel/exception/DetailedException.h"
#include "tests/support/AlertRecorder.h"

namespace vo::qel::exception {
namespace {

// The host sees the code as a signed value; the base class has no valid code.
TEST(ExceptionTest, OmbrixCodeIsSignedAndTheBaseReportsItsOwn) {
  testing::AlertRecorder alerts;
  EXPECT_EQ(-1967362033, InvalidArgument().getOmbrixErrorCode());
  EXPECT_TRUE(alerts.take().empty());
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(-1, Exception().getOmbrixErrorCode());
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::vector<std::string>{"exception/Exception(102) 0xFFFFFFFF != errorCode | Client "
                                     "received an exception with invalid error code!"},
            alerts.take());
}

TEST(ExceptionTest, ThrowSiteAndDetailAreKept) {
  try {
    throw AddFileAndLineInfo(AccessDenied(String(L"/var/lib/lorvath")), "osdep/path", 77);
  } catch (const Exception& e) {
    EXPECT_STREQ("osdep/path", e.getFileName());
    EXPECT_EQ(77u, e.getLineNumber());
    EXPECT_STREQ("Access denied: /var/lib/lorvath", e.what());
  }
}

}  // namespace
}  // namespace vo::qel::exception
