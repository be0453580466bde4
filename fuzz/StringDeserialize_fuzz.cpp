// Reads every string kind from arbitrary bytes with the checks of fuzz/StringReads.h; a
// broken rule or a failed-check report aborts, so the fuzzer records the input as a crash.
#include <cstdint>
#include <string>

#include "fuzz/FuzzChecks.h"
#include "fuzz/StringReads.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vo::qel;
  fuzz::AbortOnFailedChecks();
  for (const std::string& ended :
       {fuzz::ReadAll<String>(data, size), fuzz::ReadAll<ANSIString>(data, size),
        fuzz::ReadAll<ASCIIString>(data, size), fuzz::ReadAll<Utf8String>(data, size)}) {
    fuzz::Require(ended.find("broken") == std::string::npos, ended.c_str());
  }
  return 0;
}
