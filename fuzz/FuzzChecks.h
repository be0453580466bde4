// What the fuzz targets share: a broken rule and a failed-check report both end the run
// with abort(), so that the fuzzer records the input as a crash.
// One thread: fuzz targets run their inputs one after another.
#ifndef LORVATH_FUZZ_FUZZCHECKS_H_
#define LORVATH_FUZZ_FUZZCHECKS_H_

#include <cstdio>
#include <cstdlib>

#include "qel/osdep/Alert.h"

namespace vo::qel::fuzz {

inline void Require(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
  }
}

// Installs, once, an alert presenter that prints the failed-check report and aborts.
inline void AbortOnFailedChecks() {
  class AbortOnFailedCheck : public osdep::AlertPresenter {
   public:
    osdep::AlertButton present(const char* title, const char* text, const char*,
                               const char*) override {
      std::fprintf(stderr, "%s\n%s\n", title, text);
      std::abort();
    }
  };
  static AbortOnFailedCheck presenter;
  static const bool installed = (osdep::SetAlertPresenter(&presenter), true);
  (void)installed;
}

}  // namespace vo::qel::fuzz

#endif  // LORVATH_FUZZ_FUZZCHECKS_H_
