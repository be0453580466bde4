// Alerts: the modal message the library shows when something is wrong enough that
// a person should see it (a failed check, a host function that cannot be found).
//
// Thread-safe: any thread may show an alert; only that thread waits for the answer.
//
// The presenter is replaceable. The default one suits a headless process: it writes
// the title and text to standard error and answers the default button at once, so an
// alert never blocks. Tests install their own presenter to press buttons or count.
#ifndef QEL_OSDEP_ALERT_H_
#define QEL_OSDEP_ALERT_H_

namespace vo::qel::osdep {

enum AlertButton { k_DEFAULT_BUTTON = 0, k_ALTERNATE_BUTTON = 1 };

class AlertPresenter {
 public:
  virtual ~AlertPresenter() = default;

  // Shows the alert and returns the button pressed. `alternateButton` is null when
  // the alert offers the default button only.
  virtual AlertButton present(const char* title, const char* text, const char* defaultButton,
                              const char* alternateButton) = 0;
};

// Installs `presenter` (null restores the default) and returns the previous one
// (null when it was the default). The caller keeps ownership and must keep it alive
// while installed.
AlertPresenter* SetAlertPresenter(AlertPresenter* presenter) noexcept;

// Shows an alert through the installed presenter. A presenter that throws counts as
// having answered the default button.
AlertButton DisplayAlert(const char* title, const char* text, const char* defaultButton,
                         const char* alternateButton) noexcept;

}  // namespace vo::qel::osdep

#endif  // QEL_OSDEP_ALERT_H_
