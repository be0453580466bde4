#include "qel/DLLAlloc.h"

#include <atomic>
#include <climits>
#include <cstdlib>
#include <new>

#include "qel/osdep/OutputAssertion.h"

namespace vo::qel {
namespace {

const char kFileName[] = "DLLAlloc";

// Set by tests only; relaxed is enough since nothing else is published through it.
std::atomic<bool> gMallocThrows{false};

using MallocFunction = void* (*)(size_t);
using ReallocFunction = void* (*)(void*, size_t);

std::atomic<MallocFunction> gMalloc{&std::malloc};
std::atomic<ReallocFunction> gRealloc{&std::realloc};

void CheckSize(size_t size) noexcept {
  if (!(size <= UINT_MAX)) {
    osdep::OutputAssertion("size <= UINT_MAX", "Cannot allocate more than UINT_MAX bytes.",
                           kFileName, __LINE__);
  }
}

}  // namespace

void* DLLMallocNoThrow(size_t size) noexcept {
  if (gMallocThrows.load(std::memory_order_relaxed)) return nullptr;
  CheckSize(size);
  return gMalloc.load(std::memory_order_relaxed)(size);
}

void* DLLMalloc(size_t size) {
  void* block = DLLMallocNoThrow(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void* DLLReallocNoThrow(void* pointer, size_t size) noexcept {
  if (gMallocThrows.load(std::memory_order_relaxed)) return nullptr;
  CheckSize(size);
  if (pointer != nullptr && size == 0) {
    // realloc(p, 0) differs between C libraries; freeing is what callers expect.
    std::free(pointer);
    return nullptr;
  }
  return gRealloc.load(std::memory_order_relaxed)(pointer, size);
}

void* DLLRealloc(void* pointer, size_t size) {
  void* block = DLLReallocNoThrow(pointer, size);
  if (block == nullptr && size != 0) throw std::bad_alloc();
  return block;
}

void DLLFree(void* pointer) noexcept {
  if (pointer != nullptr) std::free(pointer);
}

bool MakeDLLMallocThrow(bool on) noexcept {
  return gMallocThrows.exchange(on, std::memory_order_relaxed);
}

namespace detail {

AllocFunctions ReplaceAllocFunctions(AllocFunctions functions) noexcept {
  AllocFunctions previous;
  previous.malloc = gMalloc.exchange(functions.malloc != nullptr ? functions.malloc : &std::malloc,
                                     std::memory_order_relaxed);
  previous.realloc = gRealloc.exchange(
      functions.realloc != nullptr ? functions.realloc : &std::realloc, std::memory_order_relaxed);
  return previous;
}

}  // namespace detail
}  // namespace vo::qel
