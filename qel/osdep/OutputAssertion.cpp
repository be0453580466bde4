#include "qel/osdep/OutputAssertion.h"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <mutex>

#include "qel/osdep/Alert.h"
#include "qel/osdep/ExePath.h"
#include "qel/osdep/Process.h"

namespace vo::qel::osdep {
namespace {

// Cleared for good when the user answers "Ignore All".
std::atomic<bool> gOfferDebug{true};

// The test harness's hand-over point; null when no test harness has installed itself.
std::atomic<FailedCheckHandler> gFailedCheckHandler{nullptr};

// Serialises the SIGTRAP handler's exchange, so that no report restores the default
// action while another is about to raise.
std::mutex gTrapMutex;

void IgnoreTrap(int) {}

// Stops in a debugger, which sees the signal before any handler does; under any other
// tracer (strace, ltrace) the no-op handler takes the signal and the process goes on.
void StopInDebugger() noexcept {
  std::lock_guard<std::mutex> lock(gTrapMutex);
  struct sigaction noop {};
  struct sigaction previous {};
  noop.sa_handler = &IgnoreTrap;
  sigemptyset(&noop.sa_mask);
  if (::sigaction(SIGTRAP, &noop, &previous) != 0) return;
  ::raise(SIGTRAP);
  ::sigaction(SIGTRAP, &previous, nullptr);
}

const char* ModulePath(char* buffer, size_t size) {
  const size_t length = ReadExePath(buffer, size);
  return (length == 0 || length >= size) ? "{unknown}" : buffer;
}

}  // namespace

void SetFailedCheckHandler(FailedCheckHandler handler) noexcept {
  gFailedCheckHandler.store(handler);
}

void OutputAssertion(const char* expression, const char* message, const char* file,
                     uint32_t line) noexcept {
  if (expression == nullptr) expression = "";
  if (message == nullptr) message = "";
  if (file == nullptr) file = "";
  // The report cannot unwind: a cancellation waits until it has returned.
  const NoCancellation noCancellation;
  const FailedCheckHandler handler = gFailedCheckHandler.load();
  if (handler != nullptr && handler(expression, message, file, line)) return;

  std::fprintf(stderr, "%s(%d): Assertion failed: %s\a\n", file, static_cast<int>(line),
               message[0] != '\0' ? message : expression);
  std::fflush(stderr);

  if (BeingDebugged()) {
    StopInDebugger();
    return;
  }
  if (!gOfferDebug.load()) return;

  // Stack buffers only: the report may run with allocation switched off.
  char module[PATH_MAX];
  char text[PATH_MAX + 4096];
  std::snprintf(text, sizeof(text),
                "Assertion failed:\n    Module: %s\n    Process ID: %u\n    Expression: %s\n"
                "    File: %s\n    Line: %d\n    Message: %s\n"
                "You can attach a debugger to the process now.\n"
                "(Hit Ignore All to disable this dialog box.)",
                ModulePath(module, sizeof(module)), static_cast<unsigned>(::getpid()), expression,
                file, static_cast<int>(line), message);
  if (DisplayAlert("ASSERTION FAILURE!", text, "Acknowledge", "Ignore All") == k_ALTERNATE_BUTTON) {
    gOfferDebug.store(false);
  }
}

}  // namespace vo::qel::osdep
