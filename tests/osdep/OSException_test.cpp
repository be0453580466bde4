#include "qel/osdep/OSException.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace vo::qel::osdep {
namespace {

TEST(OSExceptionTest, HostCodesAndSystemCodes) {
  struct {
    const char* name;
    const OSException& e;
    uint32_t hostCode;
    uint32_t systemCode;
  } const cases[] = {
      {"posix_missing_file", PosixError(2), 7, 2},
      {"posix_access", PosixError(13), 42, 13},
      {"carbon_missing_file", CarbonError(-43), 7, 0xFFFFFFD5u},
      {"carbon_other", CarbonError(-36), 42, 0xFFFFFFDCu},
      {"os_default", OSException(), 42, 0},
      {"os_message", OSException(ANSIString("m"), 9), 42, 9},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.hostCode, c.e.getErrorCode());
    EXPECT_EQ(c.systemCode, c.e.whatcode());
  }
  EXPECT_STREQ("No such file or directory", PosixError(2).what());
  EXPECT_STREQ("Unknown error code", CarbonError(-43).what());
  EXPECT_STREQ("Unknown error", OSException().what());
  errno = EACCES;
  const PosixError fromErrno;
  EXPECT_EQ(static_cast<uint32_t>(EACCES), fromErrno.whatcode());
  EXPECT_STREQ("Permission denied", fromErrno.what());
}

}  // namespace
}  // namespace vo::qel::osdep
