// Process queries used by the failed-check report and the test harness, and the guard
// that keeps the calling thread from being cancelled inside code that cannot unwind.
//
// Thread-safe.
#ifndef QEL_OSDEP_PROCESS_H_
#define QEL_OSDEP_PROCESS_H_

namespace vo::qel::osdep {

// True when any tracer is attached to this process (TracerPid is not 0): a debugger,
// but also strace or ltrace, which the failed-check report tells apart by how they
// answer a breakpoint.
bool BeingDebugged() noexcept;

// Ends the process at once with SIGKILL: no handlers, destructors or buffers run.
[[noreturn]] void Abort() noexcept;

// While it lives, the calling thread's cancellation is held back: a cancellation point
// reached meanwhile does not act, and a pending request acts at the next one afterwards.
// For code that must not unwind (noexcept functions that write or wait).
class NoCancellation {
 public:
  NoCancellation() noexcept;
  ~NoCancellation();
  NoCancellation(const NoCancellation&) = delete;
  NoCancellation& operator=(const NoCancellation&) = delete;

 private:
  int previous_;
};

// Whether the system is a deterministic (real-time) one. Never on Linux.
constexpr bool IsOSDeterministic() noexcept { return false; }

}  // namespace vo::qel::osdep

#endif  // QEL_OSDEP_PROCESS_H_
