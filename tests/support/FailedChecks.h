// Test support: records every failed-check report made while the object lives, from any
// thread, as "file(line) expression | message", read back from the alert each report
// raises (the alert is answered, so reports keep coming).
#ifndef TESTS_SUPPORT_FAILEDCHECKS_H_
#define TESTS_SUPPORT_FAILEDCHECKS_H_

#include <string>
#include <vector>

#include "tests/support/AlertRecorder.h"

namespace vo::qel::testing {

class FailedChecks {
 public:
  // The reports made since the last call.
  std::vector<std::string> take() {
    const auto alerts = recorder_.alerts();
    std::vector<std::string> reports;
    for (; taken_ < alerts.size(); ++taken_) reports.push_back(Summary(alerts[taken_].text));
    return reports;
  }

 private:
  static std::string Field(const std::string& text, const std::string& name) {
    const size_t begin = text.find("    " + name + ": ") + name.size() + 6;
    return text.substr(begin, text.find('\n', begin) - begin);
  }
  static std::string Summary(const std::string& text) {
    return Field(text, "File") + "(" + Field(text, "Line") + ") " + Field(text, "Expression") +
           " | " + Field(text, "Message");
  }

  AlertRecorder recorder_;
  size_t taken_ = 0;
};

}  // namespace vo::qel::testing

#endif  // TESTS_SUPPORT_FAILEDCHECKS_H_
