// Decoding any bytes: every decoding form agrees with the plain reference decoder, or
// every one of them throws InvalidSequence where it stops. The room of the stopping forms
// comes from the input.
#include <string>
#include <vector>

#include "fuzz/FuzzChecks.h"
#include "fuzz/Utf8Reference.h"
// The unit under test is compiled into this program, so that libFuzzer's coverage
// instrumentation, which only this program's own sources get, sees its branches;
// its definitions take the place of the library's copy at link time.
#include "qel/Utf8ToWide.cpp"  // NOLINT(build/include)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vo::qel::fuzz;
  const std::vector<unsigned char> text(data, data + size);
  const size_t n = ReferenceDecode(text.data(), size).values.size();
  const size_t room = 1 + (size == 0 ? 0 : data[size / 2] % (n + 2));
  const std::string broken = CheckDecoding(text, {room});
  Require(broken.empty(), broken.c_str());
  return 0;
}
