// Test support for the string kinds: texts as std::string turned into any kind and
// back, so one table serves all four kinds; what an operation threw and reported.
#ifndef TESTS_SUPPORT_STRINGTEXT_H_
#define TESTS_SUPPORT_STRINGTEXT_H_

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <string>

#include "qel/StringBase.h"
#include "qel/exception/DetailedException.h"
#include "qel/exception/Exception.h"
#include "tests/support/AlertRecorder.h"

namespace vo::qel::testing {

using StringKinds = ::testing::Types<String, ANSIString, ASCIIString, Utf8String>;

// The bytes of `text` as elements of kind S (c_str() gives them zero-terminated), and as
// a string of that kind; and a string's elements, each cut to a byte.
template <typename S>
std::basic_string<typename S::value_type> T(const std::string& text) {
  return {text.begin(), text.end()};
}
template <typename S>
S Make(const std::string& text) {
  return S(T<S>(text).c_str(), static_cast<typename S::size_type>(text.size()));
}
template <typename S>
std::string Ascii(const S& s) {
  return std::string(s.begin(), s.end());
}

// What `run` threw, by a short name ("" for nothing), checking the string code's texts.
inline std::string Thrown(const std::function<void()>& run) {
  try {
    run();
    return "";
  } catch (const exception::OutOfRange2& e) {
    EXPECT_STREQ("Out of range: String offset out of range", e.what());
    return "offset";
  } catch (const exception::BoundExceeded2& e) {
    EXPECT_STREQ("A request was made that would exceed the bounds: Resulting string too large",
                 e.what());
    return "too large";
  } catch (const exception::OutOfRange&) {
    return "overflow";  // from the checked integers
  } catch (const exception::InvalidSequence&) {
    return "invalid";
  } catch (const std::bad_alloc&) {
    return "bad_alloc";
  }
}

// The expressions of the string code's failed checks since the last call, joined by ";".
inline std::string Reported(AlertRecorder& alerts) {
  std::string expressions;
  for (const std::string& report : alerts.take()) {
    EXPECT_EQ(0u, report.find("StringBase(")) << report;
    const size_t begin = report.find(") ") + 2;
    expressions +=
        (expressions.empty() ? "" : ";") + report.substr(begin, report.find(" | ") - begin);
  }
  return expressions;
}

}  // namespace vo::qel::testing

#endif  // TESTS_SUPPORT_STRINGTEXT_H_
