#include "qel/osdep/Process.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace vo::qel::osdep {

// Reads /proc/self/status into a stack buffer: the failed-check report calls this
// and may run while allocation is switched off.
bool BeingDebugged() noexcept {
  int fd;
  do {
    fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  char buffer[4096];
  size_t used = 0;
  for (;;) {
    const ssize_t n = ::read(fd, buffer + used, sizeof(buffer) - 1 - used);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    used += static_cast<size_t>(n);
    if (used == sizeof(buffer) - 1) break;
  }
  ::close(fd);
  buffer[used] = '\0';
  const char* tracer = std::strstr(buffer, "TracerPid:");
  if (tracer == nullptr) return false;
  return std::strtol(tracer + std::strlen("TracerPid:"), nullptr, 10) != 0;
}

NoCancellation::NoCancellation() noexcept : previous_(PTHREAD_CANCEL_ENABLE) {
  ::pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &previous_);
}

NoCancellation::~NoCancellation() { ::pthread_setcancelstate(previous_, nullptr); }

void Abort() noexcept {
  ::kill(::getpid(), SIGKILL);
  std::_Exit(137);  // not reached; keeps [[noreturn]] honest
}

}  // namespace vo::qel::osdep
