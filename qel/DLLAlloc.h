// Allocation wrappers through which the strings and the small containers obtain all
// their memory. Going through one place lets tests switch every such allocation off
// (MakeDLLMallocThrow) and see that callers fail cleanly with std::bad_alloc.
//
// Thread-safe: any thread may allocate; the on/off switch is one process-wide flag,
// normally flipped by a test before it allocates.
//
// Sizes above 0xFFFFFFFF bytes are reported as failed checks (the callers' sizes are
// 32-bit quantities, so such a size means a caller's arithmetic went wrong) and then
// still attempted.

#ifndef QEL_DLLALLOC_H_
#define QEL_DLLALLOC_H_

#include <cstddef>

namespace vo::qel {

// Allocates `size` bytes; throws std::bad_alloc when no memory is had.
void* DLLMalloc(size_t size);

// Allocates `size` bytes; null when no memory is had or allocation is switched off.
void* DLLMallocNoThrow(size_t size) noexcept;

// Resizes `pointer` (which may be null) to `size` bytes; throws std::bad_alloc when
// a non-zero size cannot be had, leaving the old block valid.
void* DLLRealloc(void* pointer, size_t size);

// Resizes `pointer` to `size` bytes. A non-null pointer with size 0 frees the block and
// gives null. Null on failure or when allocation is switched off; the old block then
// stays valid.
void* DLLReallocNoThrow(void* pointer, size_t size) noexcept;

// Releases a block from the functions above; null is ignored.
void DLLFree(void* pointer) noexcept;

// on == true makes every allocation above fail (DLLFree still works); false switches
// allocation back on. Returns the previous setting.
bool MakeDLLMallocThrow(bool on) noexcept;

namespace detail {

// The C library functions the wrappers end in. Tests replace them to make one
// particular request fail, or to see a request without performing it. A replacement
// must hand out memory that `free` accepts (or null).
struct AllocFunctions {
  void* (*malloc)(size_t size);
  void* (*realloc)(void* pointer, size_t size);
};

// Installs `functions` (null members mean the C library's own) and returns the
// previous pair. Not meant to be called while other threads allocate.
AllocFunctions ReplaceAllocFunctions(AllocFunctions functions) noexcept;

}  // namespace detail
}  // namespace vo::qel

#endif  // QEL_DLLALLOC_H_
