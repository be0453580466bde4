// Test support: an alert presenter that records every alert and answers with a
// chosen button, installed for the lifetime of the object.
#ifndef TESTS_SUPPORT_ALERTRECORDER_H_
#define TESTS_SUPPORT_ALERTRECORDER_H_

#include <mutex>
#include <string>
#include <vector>

#include "qel/osdep/Alert.h"

namespace vo::qel::testing {

class AlertRecorder : public osdep::AlertPresenter {
 public:
  struct Alert {
    std::string title, text, defaultButton, alternateButton;
  };

  explicit AlertRecorder(osdep::AlertButton answer = osdep::k_DEFAULT_BUTTON)
      : answer_(answer), previous_(osdep::SetAlertPresenter(this)) {}
  ~AlertRecorder() override { osdep::SetAlertPresenter(previous_); }

  osdep::AlertButton present(const char* title, const char* text, const char* defaultButton,
                             const char* alternateButton) override {
    std::lock_guard<std::mutex> lock(mu_);
    alerts_.push_back({title, text, defaultButton, alternateButton ? alternateButton : ""});
    return answer_;
  }

  std::vector<Alert> alerts() const {
    std::lock_guard<std::mutex> lock(mu_);
    return alerts_;
  }

 private:
  const osdep::AlertButton answer_;
  osdep::AlertPresenter* const previous_;
  mutable std::mutex mu_;
  std::vector<Alert> alerts_;
};

// A failed-check report as written to standard error, "Vector(770): Assertion failed:
// ...", with its line number replaced by '#', so that a test does not break whenever
// code above the check moves.
inline std::string WithoutLineNumber(std::string report) {
  const size_t open = report.find('(');
  const size_t close = report.find(')', open);
  if (open != std::string::npos && close != std::string::npos) {
    report.replace(open + 1, close - open - 1, "#");
  }
  return report;
}

}  // namespace vo::qel::testing

#endif  // TESTS_SUPPORT_ALERTRECORDER_H_
