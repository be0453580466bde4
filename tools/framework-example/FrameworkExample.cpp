// An example test program built on the library's test framework: checks a few
// range-checked integer conversions. Run it with "-v" to see every passing check.
#include <cstdint>

#include "qel/NumericCast.h"
#include "qel/debug/Test.h"
#include "qel/exception/Exception.h"

using vo::debug::Test;

#define EXAMPLE_CHECK(condition) Test::Check((condition), #condition, __FILE__, __LINE__)

namespace {

bool CastThrows(long value) {
  try {
    vo::qel::NumericCast<int>(value);
  } catch (const vo::qel::exception::OutOfRange&) {
    return true;
  }
  return false;
}

void RunTests() {
  EXAMPLE_CHECK(vo::qel::NumericCast<int>(-2147483648L) == INT32_MIN);
  EXAMPLE_CHECK(CastThrows(2147483648L));
  EXAMPLE_CHECK(CastThrows(-2147483649L));
  Test::VPrint("three conversions checked\n");
}

}  // namespace

int main(int argc, char** argv) {
  Test::Init init(false, 60);  // a run longer than a minute is killed as hung
  return Test::main(argc, argv, RunTests);
}
