// Test support: records the failed-check reports made while the object lives, from any
// thread, as "file(line) expression | message", read from the alert each report raises.
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
    for (; taken_ < alerts.size(); ++taken_) {
      const std::string& text = alerts[taken_].text;
      const auto field = [&text](const std::string& name) {
        const size_t begin = text.find("    " + name + ": ") + name.size() + 6;
        return text.substr(begin, text.find('\n', begin) - begin);
      };
      reports.push_back(field("File") + "(" + field("Line") + ") " + field("Expression") + " | " +
                        field("Message"));
    }
    return reports;
  }

 private:
  AlertRecorder recorder_;  // answers "Acknowledge", so the alerts keep coming
  size_t taken_ = 0;
};

}  // namespace vo::qel::testing

#endif  // TESTS_SUPPORT_FAILEDCHECKS_H_
