// Test support for the string kinds: ASCII texts written as std::string and turned
// into the elements of any kind, and back, so one table of cases serves all four
// kinds; and a recorder of the failed-check reports made while it lives.
#ifndef TESTS_SUPPORT_STRINGTEXT_H_
#define TESTS_SUPPORT_STRINGTEXT_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qel/StringBase.h"
#include "tests/support/AlertRecorder.h"

namespace vo {
namespace qel {
namespace testing {

// The elements of an ASCII text in the element type of kind S (0 elements kept).
template <typename S>
std::vector<typename S::value_type> Elements(const std::string& ascii) {
  return std::vector<typename S::value_type>(ascii.begin(), ascii.end());
}

// The same, zero-terminated.
template <typename S>
std::vector<typename S::value_type> Terminated(const std::string& ascii) {
  auto e = Elements<S>(ascii);
  e.push_back(0);
  return e;
}

template <typename S>
S Make(const std::string& ascii) {
  const auto e = Elements<S>(ascii);
  if (e.empty()) return S();  // a null pointer with count 0 is reported
  return S(e.data(), static_cast<typename S::size_type>(e.size()));
}

// The text of a string of ASCII elements (each element cut to a byte).
template <typename S>
std::string Ascii(const S& s) {
  std::string text;
  for (auto c : s) text.push_back(static_cast<char>(c));
  return text;
}

// The failed-check reports made while it lives, by expression; each must name the
// string code's file.
class Reports {
 public:
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

 private:
  AlertRecorder alerts_;
  size_t seen_ = 0;
};

}  // namespace testing
}  // namespace qel
}  // namespace vo

#endif  // TESTS_SUPPORT_STRINGTEXT_H_
