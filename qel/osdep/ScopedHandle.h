// ScopedHandle: the owner of one operating-system handle, released when the owner
// goes (CoreFoundation references here), put together from policies:
//
//   ScopedHandle<H, StoragePolicy, CopyPolicy, ReleasePolicy>
//  1. StoragePolicy holds the handle and knows the invalid value (isValid, get, swap).
//  2. Construction from a handle adopts it: nothing is retained.
//  3. Assigning a new handle releases the previous one exactly once, after the new
//     one is in place; assigning the invalid handle just releases.
//  4. A copy takes its own reference through CopyPolicy (CFRetain for
//     CoreFoundation), so every owner releases once.
//
// One thread at a time per scoped handle.
#ifndef QEL_OSDEP_SCOPEDHANDLE_H_
#define QEL_OSDEP_SCOPEDHANDLE_H_

#include <utility>

#include "qel/osdep/CFString.h"

namespace vo::qel::osdep {

// Invalid-value policy: null is the invalid handle.
template <class H>
struct NullInvalidHandlePolicy {
  static H InvalidHandle() noexcept { return H(); }
};

// Storage policy: the handle itself, invalid unless one is given.
template <class H, class InvalidPolicy>
class HandleStoragePolicy {
 public:
  HandleStoragePolicy() noexcept : handle_(InvalidPolicy::InvalidHandle()) {}
  explicit HandleStoragePolicy(H handle) noexcept : handle_(handle) {}

  bool isValid() const noexcept { return handle_ != InvalidPolicy::InvalidHandle(); }
  H get() const noexcept { return handle_; }
  void swap(HandleStoragePolicy& that) noexcept { std::swap(handle_, that.handle_); }

 protected:
  ~HandleStoragePolicy() = default;

 private:
  H handle_;
};

// Copy policy for CoreFoundation references: a copy is one more reference.
template <class H>
struct CFTypeRefCopyPolicy {
  static H Copy(H handle) noexcept { return handle ? CFRetain(handle) : handle; }
};

// Release policy for CoreFoundation references: CFRelease, null ignored.
struct CFTypeRefReleasePolicy {
  template <class H>
  static void Release(H handle) noexcept {
    if (handle) CFRelease(handle);
  }
};

template <class H, class StoragePolicy = HandleStoragePolicy<H, NullInvalidHandlePolicy<H>>,
          class CopyPolicy = CFTypeRefCopyPolicy<H>, class ReleasePolicy = CFTypeRefReleasePolicy>
class ScopedHandle : public StoragePolicy {
 public:
  ScopedHandle() noexcept = default;
  // Adopts `handle` (no retain).
  explicit ScopedHandle(H handle) noexcept : StoragePolicy(handle) {}
  ScopedHandle(const ScopedHandle& that) noexcept : StoragePolicy(CopyPolicy::Copy(that.get())) {}

  ScopedHandle& operator=(const ScopedHandle& that) noexcept {
    ScopedHandle copy(that);
    this->swap(copy);
    return *this;
  }

  // Adopts `handle`; the previous handle is released as the temporary that takes it
  // goes. REQUIRES: `handle` is not the one already held.
  ScopedHandle& operator=(H handle) noexcept {
    ScopedHandle temporary(handle);
    this->swap(temporary);
    return *this;
  }

  ~ScopedHandle() noexcept { ReleasePolicy::Release(this->get()); }
};

}  // namespace vo::qel::osdep

#endif  // QEL_OSDEP_SCOPEDHANDLE_H_
