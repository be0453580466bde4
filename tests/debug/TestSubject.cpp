// A program on the test framework for its own tests: argv[1] picks the test function
// (and the time-out given to Test::Init); the framework's options follow.
#include <unistd.h>

#include <cstring>

#include "qel/debug/Test.h"
#include "qel/exception/Exception.h"

namespace {

using vo::debug::Test;

void Flags(int argc, char**) {
  Test::Print("argc=%d verbose=%d assert=%d\n", argc, Test::IsVerboseTest(), Test::IsAssertTest());
  Test::Check(true, "passing check", "t", 1);
  Test::VPrint("detail\n");
}

void HResult() {
  Test::CheckHRESULT(-1, "Negative()", "t", 3);
  Test::CheckHRESULT(0, "Zero()", "t", 4);
  Test::CheckHRESULT(1, "Positive()", "t", 5);
}

const struct Mode {
  const char* name;
  unsigned int timeoutSeconds;
  void (*test)();
} kModes[] = {
    {"pass", 0, [] { Test::Check(1 + 1 == 2, "1 + 1 == 2", "t", 1); }},
    {"fail", 0, [] { Test::Check(1 + 1 == 3, "1 + 1 == 3", "t", 2); }},
    {"hresult", 0, HResult},
    {"flags", 0, nullptr},  // the test function taking the arguments
    {"qel", 0, [] { throw vo::qel::AddFileAndLineInfo(vo::qel::exception::OutOfRange(), "f", 9); }},
    {"foreign", 0, [] { throw 42; }},
    {"sleep", 1, [] { Test::Print("sleeping\n"), ::sleep(3); }},
    {"sleep_past_wrap", 4294968, [] { ::usleep(1500000); }},  // 4294968000 ms wraps to 705
};

}  // namespace

int main(int argc, char** argv) {
  for (const Mode& mode : kModes) {
    if (argc < 2 || std::strcmp(argv[1], mode.name) != 0) continue;
    Test::Init init(true, mode.timeoutSeconds);
    return mode.test ? Test::main(argc, argv, mode.test) : Test::main(argc, argv, Flags);
  }
  return 2;
}
