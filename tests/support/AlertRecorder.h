// Test support: an alert presenter, installed for its lifetime, that records every alert
// and answers with a chosen button (or what a function does); it reads failed-check
// reports back from the alerts.
// Alerts may come from any thread.
#ifndef TESTS_SUPPORT_ALERTRECORDER_H_
#define TESTS_SUPPORT_ALERTRECORDER_H_

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "qel/osdep/Alert.h"

namespace vo::qel::testing {

class AlertRecorder : public osdep::AlertPresenter {
 public:
  explicit AlertRecorder(osdep::AlertButton answer = osdep::k_DEFAULT_BUTTON)
      : AlertRecorder([answer] { return answer; }) {}
  // `answer` runs once each alert is recorded; it may throw or cancel its thread.
  explicit AlertRecorder(std::function<osdep::AlertButton()> answer)
      : answer_(std::move(answer)), previous_(osdep::SetAlertPresenter(this)) {}
  ~AlertRecorder() override { osdep::SetAlertPresenter(previous_); }

  osdep::AlertButton present(const char* title, const char* text, const char* defaultButton,
                             const char* alternateButton) override {
    std::lock_guard<std::mutex> lock(mu_);
    alerts_.push_back(std::string(title) + "|" + defaultButton + "|" +
                      (alternateButton ? alternateButton : "") + "|" + text);
    return answer_();
  }

  // Each alert as "title|default button|alternate button|text".
  std::vector<std::string> alerts() const {
    std::lock_guard<std::mutex> lock(mu_);
    return alerts_;
  }

  // The failed-check reports since the last call, as "file(line) expression | message".
  std::vector<std::string> take() {
    std::lock_guard<std::mutex> lock(mu_);
    std::vector<std::string> reports;
    for (; taken_ < alerts_.size(); ++taken_) {
      const std::string& text = alerts_[taken_];
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
  const std::function<osdep::AlertButton()> answer_;
  osdep::AlertPresenter* const previous_;
  mutable std::mutex mu_;
  std::vector<std::string> alerts_;
  size_t taken_ = 0;
};

// A report as written to standard error ("Vector(770): Assertion failed: ...") with its
// line number replaced by '#', so that a test survives code moving above the check.
inline std::string WithoutLineNumber(std::string report) {
  const size_t open = report.find('('), close = report.find(')', open);
  if (close != std::string::npos) report.replace(open + 1, close - open - 1, "#");
  return report;
}

}  // namespace vo::qel::testing

#endif  // TESTS_SUPPORT_ALERTRECORDER_H_
