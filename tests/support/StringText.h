// Test support for the string kinds: ASCII texts written as std::string and turned
// into the elements of any kind, and back, so one table of cases serves all four
// kinds; what an operation threw; and a recorder of the failed-check reports.
#ifndef TESTS_SUPPORT_STRINGTEXT_H_
#define TESTS_SUPPORT_STRINGTEXT_H_

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <string>
#include <vector>

#include "qel/StringBase.h"
#include "qel/exception/DetailedException.h"
#include "qel/exception/Exception.h"
#include "tests/support/AlertRecorder.h"

namespace vo::qel::testing {

// The elements of an ASCII text in the element type of kind S (0 elements kept),
// zero-terminated, and as a string.
template <typename S>
std::vector<typename S::value_type> Terminated(const std::string& ascii) {
  return std::vector<typename S::value_type>(ascii.c_str(), ascii.c_str() + ascii.size() + 1);
}
template <typename S>
S Make(const std::string& ascii) {
  return S(Terminated<S>(ascii).data(), static_cast<typename S::size_type>(ascii.size()));
}

// The text of a string of ASCII elements (each element cut to a byte).
template <typename S>
std::string Ascii(const S& s) {
  return std::string(s.begin(), s.end());
}

// What `run` threw, by a short name ("" for nothing); the string code's own
// exceptions must carry their exact texts and its file name.
inline std::string Thrown(const std::function<void()>& run) {
  try {
    run();
    return "";
  } catch (const exception::OutOfRange2& e) {
    EXPECT_STREQ("Out of range: String offset out of range", e.what());
    EXPECT_STREQ("StringBase", e.getFileName());
    return "offset";
  } catch (const exception::BoundExceeded2& e) {
    EXPECT_STREQ("A request was made that would exceed the bounds: Resulting string too large",
                 e.what());
    EXPECT_STREQ("StringBase", e.getFileName());
    return "too large";
  } catch (const exception::DeserializationError& e) {
    EXPECT_STREQ("Failed to deserialize", e.what());
    return "unreadable";
  } catch (const exception::OutOfRange&) {
    return "overflow";  // from the checked integers
  } catch (const exception::InvalidSequence&) {
    return "invalid";
  } catch (const std::bad_alloc&) {
    return "bad_alloc";
  } catch (...) {
    return "other";
  }
}

// The failed-check reports made while it lives, by expression; each must name the
// string code's file.
struct Reports {
  std::vector<std::string> take() {
    std::vector<std::string> expressions;
    const auto alerts = alerts_.alerts();
    for (size_t i = seen_; i < alerts.size(); ++i) {
      const std::string& text = alerts[i].text;
      EXPECT_NE(std::string::npos, text.find("\n    File: StringBase\n")) << text;
      const std::string key = "    Expression: ";
      const size_t start = text.find(key) + key.size();
      expressions.push_back(text.substr(start, text.find('\n', start) - start));
    }
    seen_ = alerts.size();
    return expressions;
  }
  AlertRecorder alerts_;
  size_t seen_ = 0;
};

}  // namespace vo::qel::testing

#endif  // TESTS_SUPPORT_STRINGTEXT_H_
