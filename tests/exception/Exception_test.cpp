// The exceptions as the host sees them: its error codes, the throw site and the texts.
#include "qel/exception/Exception.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "qel/exception/DetailedException.h"
#include "qel/osdep/OSException.h"
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

// The host sees 7 for a missing file, 0 for no error and 42 for anything else.
TEST(OSExceptionTest, HostCodesSystemCodesAndTexts) {
  using namespace osdep;
  errno = EACCES;
  struct {
    const char* name;
    const OSException& e;
    uint32_t hostCode;
    uint32_t systemCode;
    const char* what;
  } const cases[] = {
      {"posix_missing_file", PosixError(2), 7, 2, "No such file or directory"},
      {"posix_from_errno", PosixError(), 42, EACCES, "Permission denied"},
      {"posix_no_error", PosixError(0), 0, 0, "Success"},
      {"carbon_missing_file", CarbonError(-43), 7, 0xFFFFFFD5u, "Unknown error code"},
      {"carbon_other", CarbonError(-36), 42, 0xFFFFFFDCu, "Unknown error code"},
      {"os_default", OSException(), 42, 0, "Unknown error"},
      {"os_message", OSException(ANSIString("m"), 9), 42, 9, "m"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.hostCode, c.e.getErrorCode());
    EXPECT_EQ(c.systemCode, c.e.whatcode());
    EXPECT_STREQ(c.what, c.e.what());
  }
}

}  // namespace
}  // namespace vo::qel::exception
