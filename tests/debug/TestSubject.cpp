// A program built on the test framework for the framework's own tests: argv[1] names
// the test function to run (and the time-out to give Test::Init); the options follow.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "qel/debug/Test.h"
#include "qel/exception/Exception.h"

namespace {

using vo::debug::Test;

void Print1(const char* text) { std::printf("[1] %s", text); }
void Print2(const char* text) { std::printf("[2] %s", text); }

void Flags(int argc, char**) {
  Test::Print("argc=%d verbose=%d assert=%d\n", argc, Test::IsVerboseTest(), Test::IsAssertTest());
  Test::Check(true, "passing check", "tests/debug", 1);
  Test::VPrint("detail\n");
}

void Callbacks() {
  Test::RegisterPrintCallback(Print1);
  Test::Print("one\n");
  Test::RegisterPrintCallback(Print2);
  Test::Print("two\n");
  Test::UnregisterPrintCallback(Print2);
  Test::RegisterPrintCallback(Print1);
  Test::UnregisterPrintCallback(Print2);
}

// Three runs of 0.6 s, past a time-out of one second; only "-i" runs them.
void Runs() {
  static int runs = 0;
  Test::Print("run %d\n", ++runs);
  ::usleep(600000);
  if (runs == 3) std::exit(3);
}

const struct Mode {
  const char* name;
  unsigned int timeoutSeconds;
  void (*test)();
  void (*testWithArgs)(int, char**);
} kModes[] = {
    {"pass", 0, [] { Test::Check(1 + 1 == 2, "1 + 1 == 2", "tests/debug", 1); }, nullptr},
    {"fail", 0, [] { Test::Check(1 + 1 == 3, "1 + 1 == 3", "tests/debug", 2); }, nullptr},
    {"hresult", 0,
     [] {
       Test::CheckHRESULT(-1, "Negative()", "tests/debug", 3);
       Test::CheckHRESULT(1, "Positive()", "tests/debug", 4);
     },
     nullptr},
    {"flags", 0, nullptr, Flags},
    {"qel", 0,
     [] { throw vo::qel::AddFileAndLineInfo(vo::qel::exception::OutOfRange(), "SafeInteger", 9); },
     nullptr},
    {"std", 0, [] { throw std::runtime_error("boom"); }, nullptr},
    {"foreign", 0, [] { throw 42; }, nullptr},
    {"long", 0, [] { Test::Print("%s|\n", std::string(2000, 'x').c_str()); }, nullptr},
    {"callbacks", 0, Callbacks, nullptr},
    {"assertion", 0, [] { vo::qel::exception::Exception().getOmbrixErrorCode(); }, nullptr},
    {"sleep", 1,
     [] {
       Test::Print("sleeping\n");
       ::sleep(3);
     },
     nullptr},
    {"sleep_past_wrap", 4294968, [] { ::usleep(1500000); }, nullptr},
    {"runs", 1, Runs, nullptr},
};

}  // namespace

int main(int argc, char** argv) {
  for (const Mode& mode : kModes) {
    if (argc < 2 || std::strcmp(argv[1], mode.name) != 0) continue;
    Test::Init init(true, mode.timeoutSeconds);
    return mode.test != nullptr ? Test::main(argc, argv, mode.test)
                                : Test::main(argc, argv, mode.testWithArgs);
  }
  return 2;
}
