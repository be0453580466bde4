// Repeating a system call that a signal interrupted: the call is made again while it
// fails with EINTR. Never for close, whose descriptor is gone even then.
//
// Stateless; any thread may use it.
#ifndef QEL_OSDEP_RETRYONEINTR_H_
#define QEL_OSDEP_RETRYONEINTR_H_

#include <cerrno>

namespace vo::qel::osdep {

// Calls `call` (which returns -1 with errno on failure) until it does not fail with
// EINTR, and returns its last result.
template <class Call>
auto RetryOnEintr(Call call) -> decltype(call()) {
  decltype(call()) result;
  do {
    result = call();
  } while (result == -1 && errno == EINTR);
  return result;
}

}  // namespace vo::qel::osdep

#endif  // QEL_OSDEP_RETRYONEINTR_H_
