#include "qel/exception/DetailedException.h"

#include <gtest/gtest.h>

namespace vo::qel {
namespace {

using namespace exception;

TEST(DetailedExceptionTest, DetailFollowsTheBaseTextAndKeepsItsCode) {
  const InvalidArgument2 invalid(ANSIString("severity"));
  EXPECT_STREQ("Invalid argument(s): severity", invalid.what());
  EXPECT_EQ(0x8ABC700Fu, invalid.getErrorCode());
  EXPECT_STREQ("Out of range: String offset out of range",
               OutOfRange2(ANSIString("String offset out of range")).what());
  EXPECT_STREQ("A request was made that would exceed the bounds: x",
               BoundExceeded2(ANSIString("x")).what());
  EXPECT_EQ(0x8ABC7007u, BoundExceeded2(ANSIString("")).getErrorCode());
  const AccessDenied denied(String(L"/var/lib/lorvath"));
  EXPECT_STREQ("Access denied: /var/lib/lorvath", denied.what());
  EXPECT_EQ(0x8ABC7019u, denied.getErrorCode());

  // A copy owns its own message.
  InvalidArgument2* original = new InvalidArgument2(ANSIString("gone"));
  const InvalidArgument2 copy(*original);
  delete original;
  EXPECT_STREQ("Invalid argument(s): gone", copy.what());
}

TEST(DetailedExceptionTest, CaughtThroughEveryBase) {
  auto thrower = [] { throw AddFileAndLineInfo(OutOfRange2(ANSIString("d")), "StringBase", 5); };
  EXPECT_THROW(thrower(), OutOfRange);
  EXPECT_THROW(thrower(), Exception);
  EXPECT_THROW(thrower(), std::exception);
  try {
    thrower();
  } catch (const std::exception& e) {
    EXPECT_STREQ("Out of range: d", e.what());
    EXPECT_EQ(5u, dynamic_cast<const Exception&>(e).getLineNumber());
  }
}

}  // namespace
}  // namespace vo::qel
