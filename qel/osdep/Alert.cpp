#include "qel/osdep/Alert.h"

#include <atomic>
#include <cstdio>

namespace vo::qel::osdep {
namespace {

std::atomic<AlertPresenter*> gAlertPresenter{nullptr};

AlertButton PresentOnStandardError(const char* title, const char* text) {
  std::fprintf(stderr, "*** %s ***\n%s\n", title, text);
  std::fflush(stderr);
  return k_DEFAULT_BUTTON;
}

}  // namespace

AlertPresenter* SetAlertPresenter(AlertPresenter* presenter) noexcept {
  return gAlertPresenter.exchange(presenter);
}

AlertButton DisplayAlert(const char* title, const char* text, const char* defaultButton,
                         const char* alternateButton) noexcept {
  AlertPresenter* presenter = gAlertPresenter.load();
  if (presenter == nullptr) return PresentOnStandardError(title, text);
  try {
    return presenter->present(title, text, defaultButton, alternateButton);
  } catch (...) {
    return k_DEFAULT_BUTTON;
  }
}

}  // namespace vo::qel::osdep
