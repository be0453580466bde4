// SmartPtr: a single owner of a pointer, put together from policies, so that memory
// from new[] and memory from the C library (tempnam, strdup) each go back the way
// they came, also when an exception unwinds the owner.
//
// One thread at a time per smart pointer.
//
//   SmartPtr<T, CopyPolicy, ReleasePolicy, StoragePolicy>
//  1. StoragePolicy holds the pointer; its accessors (get, getRef, dismiss) are the
//     smart pointer's own.
//  2. CopyPolicy decides what construction from a raw pointer stores and whether the
//     smart pointer can be copied; NoncopyableSPCopyPolicy adopts the pointer and
//     forbids copies.
//  3. The destructor hands the stored pointer to ReleasePolicy::release, which
//     ignores null.
#ifndef QEL_SMARTPTR_H_
#define QEL_SMARTPTR_H_

#include <cstdlib>

#include "qel/Noncopyable.h"

namespace vo::qel {

// Copy policy: the smart pointer adopts the raw pointer and cannot be copied.
template <class T>
class NoncopyableSPCopyPolicy : private Noncopyable {
 public:
  static T* copyFromPointer(T* p) noexcept { return p; }

 protected:
  NoncopyableSPCopyPolicy() = default;
  ~NoncopyableSPCopyPolicy() = default;
};

// Release policy for arrays made with new[].
template <class T>
struct ArraySPReleasePolicy {
  static void release(T* p) noexcept {
    if (p != nullptr) delete[] p;
  }
};

// Release policy for memory from the C library's allocator (malloc, tempnam, strdup).
struct FreeingSPReleasePolicy {
  template <class T>
  static void release(T* p) noexcept {
    if (p != nullptr) std::free(p);
  }
};

// Storage policy for a pointer to an array.
template <class T>
class ArraySPStoragePolicy {
 public:
  explicit ArraySPStoragePolicy(T* p = nullptr) noexcept : pointer_(p) {}

  T* get() const noexcept { return pointer_; }
  // The stored pointer itself, for calls that hand back memory through a T*&.
  T*& getRef() noexcept { return pointer_; }

 protected:
  ~ArraySPStoragePolicy() = default;
  T* pointer_;
};

// Storage policy for a pointer to one object.
template <class T>
class PointerSPStoragePolicy {
 public:
  explicit PointerSPStoragePolicy(T* p = nullptr) noexcept : pointer_(p) {}

  T* get() const noexcept { return pointer_; }

 protected:
  ~PointerSPStoragePolicy() = default;
  T* pointer_;
};

// Adds dismiss() to another storage policy: the owner gives its pointer away.
template <class T, class Base>
class DismissableSPStoragePolicy : public Base {
 public:
  explicit DismissableSPStoragePolicy(T* p = nullptr) noexcept : Base(p) {}

  // Returns the stored pointer and forgets it: nothing is released any more, and the
  // caller owns the memory.
  T* dismiss() noexcept {
    T* const p = this->pointer_;
    this->pointer_ = nullptr;
    return p;
  }

 protected:
  ~DismissableSPStoragePolicy() = default;
};

template <class T, class CopyPolicy = NoncopyableSPCopyPolicy<T>,
          class ReleasePolicy = ArraySPReleasePolicy<T>,
          class StoragePolicy = ArraySPStoragePolicy<T>>
class SmartPtr : public StoragePolicy, private CopyPolicy {
 public:
  explicit SmartPtr(T* p = nullptr) noexcept : StoragePolicy(CopyPolicy::copyFromPointer(p)) {}
  ~SmartPtr() noexcept { ReleasePolicy::release(this->get()); }

  bool operator!() const noexcept { return this->get() == nullptr; }
};

}  // namespace vo::qel

#endif  // QEL_SMARTPTR_H_
