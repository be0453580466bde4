// Process queries used by the failed-check report and the test harness.
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

// Whether the system is a deterministic (real-time) one. Never on Linux.
constexpr bool IsOSDeterministic() noexcept { return false; }

}  // namespace vo::qel::osdep

#endif  // QEL_OSDEP_PROCESS_H_
