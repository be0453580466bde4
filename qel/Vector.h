// Vector: a growable array of copies (the library's lists of strings, such as
// directory listings and path components). Elements live in one block obtained
// through the allocation wrappers (qel/DLLAlloc.h), so tests that switch allocation
// off see a Vector fail with std::bad_alloc like any string.
//
// One thread at a time per vector.
//
// The storage is three pointers, and these invariants hold between operations:
//  1. begin_ <= end_ <= endOfStorage_.
//  2. Either all three are null (a vector that never allocated) or none is.
//  3. The capacity, endOfStorage_ - begin_, fits in 32 bits: sizes and capacities are
//     unsigned int.
// checkInvariants() reports a violation as a failed check and carries on.
//
// Growth copies: push_back into a full vector builds a new block of twice the
// capacity plus one (0, 1, 3, 7, 15, ...), copies the old elements and the new one
// into it, and only then gives up the old block. A copy that throws leaves the vector
// as it was. Elements are copied, never moved.
#ifndef QEL_VECTOR_H_
#define QEL_VECTOR_H_

#include <climits>
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

#include "qel/DLLAlloc.h"
#include "qel/SafeInteger.h"
#include "qel/osdep/OutputAssertion.h"

namespace vo::qel {

namespace detail {

// Failed checks of Vector are reported under fixed line numbers, so that a report
// names the same place whatever becomes of the layout of this header.
constexpr const char* kVectorFile = "Vector";
constexpr uint32_t kVectorLineCopyToEnd = 548;
constexpr uint32_t kVectorLineCopyRangeToEnd = 566;
constexpr uint32_t kVectorLineBeginBeforeEnd = 602;
constexpr uint32_t kVectorLineEndBeforeStorageEnd = 604;
constexpr uint32_t kVectorLineAllOrNoneNull = 606;
constexpr uint32_t kVectorLineCapacityFits = 608;
constexpr uint32_t kVectorLineIndex = 770;

inline void VectorCheck(bool condition, const char* expression, uint32_t line) noexcept {
  if (!condition) osdep::OutputAssertion(expression, "", kVectorFile, line);
}

}  // namespace detail

template <class T>
class Vector {
 public:
  // The storage: a block of `capacity` elements and the constructed ones at its
  // front. Owns its block and its elements.
  class Impl {
   public:
    // Capacity 0 allocates nothing (all pointers null). Otherwise allocates
    // capacity * sizeof(T) bytes; throws OutOfRange when that does not fit in 32
    // bits, std::bad_alloc when the memory cannot be had.
    explicit Impl(SafeInteger<unsigned int> capacity)
        : begin_(nullptr), end_(nullptr), endOfStorage_(nullptr) {
      if (capacity.rawValue() == 0) return;
      const unsigned int bytes =
          SafeInteger<unsigned int>::Multiply(capacity, unsigned(sizeof(T))).rawValue();
      begin_ = end_ = static_cast<T*>(DLLMalloc(bytes));
      endOfStorage_ = begin_ + capacity.rawValue();
    }

    ~Impl() noexcept {
      destroy();
      DLLFree(begin_);
    }

    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    // Copy-constructs `value` at end_. REQUIRES: room for one more; without it the
    // failed check is reported and nothing is written past the block.
    void copyToEnd(const T& value) {
      if (!(end_ < endOfStorage_)) {
        detail::VectorCheck(false, "end_ < endOfStorage_", detail::kVectorLineCopyToEnd);
        return;
      }
      ::new (static_cast<void*>(end_)) T(value);
      ++end_;
    }

    // Copies [first, last) to the end in order. REQUIRES: room for all; without it
    // the failed check is reported and only what fits is copied.
    void copyToEnd(const T* first, const T* last) {
      if (!((last - first) <= (endOfStorage_ - end_))) {
        detail::VectorCheck(false, "(end - begin) <= (endOfStorage_ - end_)",
                            detail::kVectorLineCopyRangeToEnd);
        last = first + (endOfStorage_ - end_);
      }
      for (; first != last; ++first) copyToEnd(*first);
    }

    // Destroys the elements from first to last; the block stays.
    void destroy() noexcept {
      for (T* p = begin_; p != end_; ++p) p->~T();
      end_ = begin_;
    }

    // Exchanges the storage of two Impls.
    void swap(Impl& that) noexcept {
      checkInvariants();
      that.checkInvariants();
      std::swap(begin_, that.begin_);
      std::swap(end_, that.end_);
      std::swap(endOfStorage_, that.endOfStorage_);
      checkInvariants();
      that.checkInvariants();
    }

    void checkInvariants() const noexcept {
      detail::VectorCheck(begin_ <= end_, "begin_ <= end_", detail::kVectorLineBeginBeforeEnd);
      detail::VectorCheck(end_ <= endOfStorage_, "end_ <= endOfStorage_",
                          detail::kVectorLineEndBeforeStorageEnd);
      detail::VectorCheck(
          (begin_ && end_ && endOfStorage_) || (!begin_ && !end_ && !endOfStorage_),
          "(begin_ && end_ && endOfStorage_) || (!begin_ && !end_ && !endOfStorage_)",
          detail::kVectorLineAllOrNoneNull);
      detail::VectorCheck(size_t(endOfStorage_ - begin_) <= UINT_MAX,
                          "size_t(endOfStorage_ - begin_) <= UINT_MAX",
                          detail::kVectorLineCapacityFits);
    }

    T* begin_;         // first element
    T* end_;           // one past the last constructed element
    T* endOfStorage_;  // one past the block
  };

  Vector() : impl_(0) {}

  Vector(const Vector& that) : impl_(that.size()) {
    impl_.copyToEnd(that.impl_.begin_, that.impl_.end_);
  }

  // Takes the storage of `that`, which is left empty with nothing allocated.
  Vector(Vector&& that) noexcept : impl_(0) { impl_.swap(that.impl_); }

  Vector& operator=(const Vector& that) {
    Vector copy(that);
    swap(copy);
    return *this;
  }

  Vector& operator=(Vector&& that) noexcept {
    Vector taken(std::move(that));
    swap(taken);
    return *this;
  }

  ~Vector() noexcept = default;

  void swap(Vector& that) noexcept { impl_.swap(that.impl_); }

  unsigned int size() const noexcept {
    return static_cast<unsigned int>(impl_.end_ - impl_.begin_);
  }
  unsigned int capacity() const noexcept {
    return static_cast<unsigned int>(impl_.endOfStorage_ - impl_.begin_);
  }

  T* begin() noexcept { return impl_.begin_; }
  T* end() noexcept { return impl_.end_; }
  const T* begin() const noexcept { return impl_.begin_; }
  const T* end() const noexcept { return impl_.end_; }

  // The element at `index`. An index at or past size() is reported; the result is
  // then a stand-in element that belongs to no vector, so that nothing past the
  // elements is ever touched.
  T& operator[](unsigned int index) {
    if (!indexInRange(index)) return StandIn();
    return impl_.begin_[index];
  }
  const T& operator[](unsigned int index) const {
    if (!indexInRange(index)) return StandIn();
    return impl_.begin_[index];
  }

  // Appends a copy of `value` (which may be an element of this vector).
  void push_back(const T& value) {
    checkInvariants();
    if (impl_.end_ != impl_.endOfStorage_) {
      impl_.copyToEnd(value);
    } else {
      Impl grown(calculateNewCapacity());
      grown.copyToEnd(impl_.begin_, impl_.end_);
      grown.copyToEnd(value);
      impl_.swap(grown);
    }
    checkInvariants();
  }

  void checkInvariants() const noexcept { impl_.checkInvariants(); }

 private:
  bool indexInRange(unsigned int index) const noexcept {
    const bool inRange = index < size();
    detail::VectorCheck(inRange, "(impl_.begin_ + index) < impl_.end_", detail::kVectorLineIndex);
    return inRange;
  }

  static T& StandIn() {
    static T standIn{};
    return standIn;
  }

  // Twice the capacity plus one; the doubling is left out when it would overflow
  // 32 bits, and the addition throws OutOfRange when it would.
  SafeInteger<unsigned int> calculateNewCapacity() const {
    SafeInteger<unsigned int> newCapacity(capacity());
    bool overflow;
    newCapacity.multiplyByTwoNoThrow(overflow);
    newCapacity.add(1);
    return newCapacity;
  }

  Impl impl_;
};

}  // namespace vo::qel

#endif  // QEL_VECTOR_H_
