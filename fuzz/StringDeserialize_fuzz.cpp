// Reads every string kind from arbitrary bytes with the checks of fuzz/StringReads.h.
// Any failed-check report aborts, so an inconsistency inside the library is a crash.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzChecks.h"
#include "fuzz/StringReads.h"
#include "qel/StringBase.h"

namespace {

using namespace vo::qel;

template <typename S>
void ReadAll(const uint8_t* data, size_t size) {
  const std::string ended = fuzz::ReadAll<S>(data, size);
  fuzz::Require(ended.find("broken") == std::string::npos, ended.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::AbortOnFailedChecks();
  ReadAll<String>(data, size);
  ReadAll<ANSIString>(data, size);
  ReadAll<ASCIIString>(data, size);
  ReadAll<Utf8String>(data, size);
  return 0;
}
