// Reads AutoBuffers from arbitrary bytes, each input both ways: the input after its first
// byte as flat forms (form after form on one cursor) and as a ring (the first byte picks
// the cursor in it), under the rules of fuzz/AutoBufferReading.h. The input is copied
// into a heap block of exactly its size, so AddressSanitizer sees any read outside it.
// Any failed-check report aborts, so an inconsistency inside the library is a crash.
#include <cstdint>
#include <vector>

#include "fuzz/AutoBufferReading.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vo::qel::fuzz::AbortOnFailedChecks();
  if (size < 1) return 0;
  std::vector<unsigned char> input(data + 1, data + size);
  input.shrink_to_fit();
  vo::qel::fuzz::ReadFlat(input.data(), input.data() + input.size());
  vo::qel::fuzz::ReadRing(input.data(), input.data() + input.size(), data[0]);
  return 0;
}
