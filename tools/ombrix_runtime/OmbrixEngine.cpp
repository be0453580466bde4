// A stand-in for the host's run-time engine, loaded by tests and tools in place of
// the real one. It declares its bundle identifier (OMBRIX_BUNDLE_IDENTIFIER, given at
// build time) and exports the engine's three services with the real contracts:
//
//   NumericArrayResize  allocates and grows handles of numeric arrays. A handle is a
//                       pointer to a master pointer to a block: numDims 32-bit sizes,
//                       then the elements (aligned to their size). The sizes of a new
//                       handle are 0; the caller writes them. Errors: 1 (invalid
//                       argument: no handle variable, unknown type, no dimension),
//                       2 (memory full: the block would exceed 2^31-1 bytes, or no
//                       memory).
//   DSDisposeHandle     frees such a handle; 1 for a null handle.
//   GGetOneErrorCode    puts the text of a known code into a new handle and answers 1;
//                       for an unknown code it answers 0 and leaves the variable alone.
//                       Two codes exist to try callers' edge cases: 5000 answers 0 but
//                       leaves a handle behind, 5001 answers 1 with an empty handle.
//
// Test hooks: OmbrixStandIn_CallCount (calls of the three services so far) and
// OmbrixStandIn_LiveHandles (handles made and not yet freed).
//
// Thread-safe: the services and hooks may be called from any thread.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

// The engine shares the host's declarations of the counted string and of its services
// with the library, so the compiler holds the two sides to one signature.
#include "lorvath.h"

#define OMBRIX_EXPORT __attribute__((visibility("default")))

namespace {

std::atomic<int32_t> gCalls{0};
std::atomic<int32_t> gLiveHandles{0};

constexpr int32_t kNoError = 0;
constexpr int32_t kArgumentError = 1;
constexpr int32_t kMemoryFull = 2;

size_t ElementSize(int32_t typeCode) {
  switch (typeCode) {
    case 1:
    case 5:
      return 1;  // signed, unsigned byte
    case 2:
    case 6:
      return 2;  // signed, unsigned word
    case 3:
    case 7:
    case 9:
      return 4;  // signed, unsigned long; single float
    case 4:
    case 8:
    case 10:
      return 8;  // signed, unsigned quad; double float
    default:
      return 0;
  }
}

// The engine's own calls stay inside the engine: the services call these, never the
// exported names, which a module loaded earlier could interpose.
int32_t Resize(int32_t typeCode, int32_t numDims, void* handleVariable, size_t newSize) {
  const size_t element = ElementSize(typeCode);
  if (handleVariable == nullptr || element == 0 || numDims < 1 || numDims > 64) {
    return kArgumentError;
  }
  const size_t header = (4 * static_cast<size_t>(numDims) + element - 1) / element * element;
  constexpr size_t kLimit = 0x7FFFFFFF;
  if (newSize > (kLimit - header) / element) return kMemoryFull;
  const size_t bytes = header + newSize * element;

  auto** const variable = static_cast<unsigned char***>(handleVariable);
  if (*variable == nullptr) {
    auto** handle = static_cast<unsigned char**>(std::malloc(sizeof(unsigned char*)));
    if (handle == nullptr) return kMemoryFull;
    *handle = static_cast<unsigned char*>(std::calloc(1, bytes));
    if (*handle == nullptr) {
      std::free(handle);
      return kMemoryFull;
    }
    *variable = handle;
    gLiveHandles.fetch_add(1);
    return kNoError;
  }
  void* const grown = std::realloc(**variable, bytes);
  if (grown == nullptr) return kMemoryFull;
  **variable = static_cast<unsigned char*>(grown);
  return kNoError;
}

int32_t Dispose(void* handle) {
  if (handle == nullptr) return kArgumentError;
  auto** const h = static_cast<unsigned char**>(handle);
  std::free(*h);
  std::free(h);
  gLiveHandles.fetch_sub(1);
  return kNoError;
}

bool PutText(const char* text, LStrHandle* variable) {
  const size_t length = std::strlen(text);
  if (Resize(5, 1, variable, length) != kNoError) return false;
  (**variable)->cnt = static_cast<int32_t>(length);
  std::memcpy((**variable)->str, text, length);
  return true;
}

struct ErrorText {
  int32_t code;
  const char* text;
};
constexpr ErrorText kErrorTexts[] = {
    {1, "An input parameter is invalid."},
    {2, "Memory is full."},
    {7, "File not found."},
    {42, "Generic error."},
    {-1, "Unexpected error."},
};

}  // namespace

extern "C" OMBRIX_EXPORT const char OmbrixBundleIdentifier[] = OMBRIX_BUNDLE_IDENTIFIER;

extern "C" OMBRIX_EXPORT int32_t NumericArrayResize(int32_t typeCode, int32_t numDims,
                                                    void* handleVariable, size_t newSize) {
  gCalls.fetch_add(1);
  return Resize(typeCode, numDims, handleVariable, newSize);
}

extern "C" OMBRIX_EXPORT int32_t DSDisposeHandle(void* handle) {
  gCalls.fetch_add(1);
  return Dispose(handle);
}

extern "C" OMBRIX_EXPORT uint8_t GGetOneErrorCode(int32_t errorCode, LStrHandle* text) {
  gCalls.fetch_add(1);
  if (text == nullptr) return 0;
  if (errorCode == 5000) {
    PutText("stale text", text);
    return 0;
  }
  if (errorCode == 5001) return PutText("", text) ? 1 : 0;
  for (const ErrorText& entry : kErrorTexts) {
    if (entry.code == errorCode) return PutText(entry.text, text) ? 1 : 0;
  }
  return 0;
}

extern "C" OMBRIX_EXPORT int32_t OmbrixStandIn_CallCount() { return gCalls.load(); }
extern "C" OMBRIX_EXPORT int32_t OmbrixStandIn_LiveHandles() { return gLiveHandles.load(); }
