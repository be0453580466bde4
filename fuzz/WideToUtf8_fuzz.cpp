// Encoding any wide text: every encoding form agrees with the plain reference encoder.
//
// Input: the first byte holds flags (low four bits 0001: allow one value above
// 0x7FFFFFFF, kept rare because each costs several reports; bits 4 and 5 clear: also
// measure with a limit), then every four bytes make one element: the low three bits pick a byte
// form (so that all six forms are common), the other 29 bits the value within it.
#include <string>
#include <utility>
#include <vector>

#include "fuzz/FuzzChecks.h"
#include "fuzz/Utf8Reference.h"
// The unit under test is compiled into this program, so that libFuzzer's coverage
// instrumentation, which only this program's own sources get, sees its branches;
// its definitions take the place of the library's copy at link time.
#include "qel/WideToUtf8.cpp"  // NOLINT(build/include)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vo::qel::fuzz;
  static const uint32_t kSpan[7] = {0x80, 0x80, 0x780, 0xF800, 0x1F0000, 0x3E00000, 0x7C000000};
  if (size == 0) return 0;
  bool allowOutOfRange = (data[0] & 0x0F) == 1;
  std::vector<uint32_t> values;
  size_t bytes = 0;
  for (const uint8_t* p = data + 1; p + 4 <= data + size; p += 4) {
    const uint32_t raw =
        uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    const uint32_t form = raw & 7, bits = raw >> 3;
    if (form < 7) {
      values.push_back(kSmallest[form] + bits % kSpan[form]);
    } else {  // out of range, or else the top of the six-byte form
      values.push_back(std::exchange(allowOutOfRange, false) ? 0x80000000u | bits
                                                             : 0x7FFFFFFFu - (bits & 0x3F));
    }
    bytes += ReferenceLength(values.back());
  }
  const std::string broken =
      CheckEncoding(values, {1 + data[size / 2] % (bytes + 2)}, (data[0] & 0x30) == 0);
  Require(broken.empty(), broken.c_str());
  return 0;
}
