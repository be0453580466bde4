// The run-time engine binding as a host sees it: each case starts engine_driver,
// which loads the stand-in modules in the case's order, then the real liblorvath.so,
// and makes forwarded calls. Whole standard output and standard error are compared,
// with module addresses, paths and the diagnostic time stamp put in a neutral form.
#include "qel/ob/EngineBinding.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace vo::qel::ob {
namespace {

const std::string kToolsDir = LORVATH_TOOLS_DIR;
const std::string kLibrary = LORVATH_LIBRARY_PATH;

struct Outcome {
  int status = -1;
  pid_t pid = 0;
  std::string out, err;
};

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// Runs `child` in a forked process whose standard output and error are captured.
template <class Child>
Outcome RunChild(Child child) {
  Outcome run;
  std::FILE* const files[] = {std::tmpfile(), std::tmpfile()};  // standard output, error
  if (files[0] == nullptr || files[1] == nullptr) {
    ADD_FAILURE() << "tmpfile: " << std::strerror(errno);  // the test fails; a file may leak
    return run;
  }
  if ((run.pid = ::fork()) == 0) {
    ::dup2(::fileno(files[0]), 1);
    ::dup2(::fileno(files[1]), 2);
    child();
  }
  int status = 0;
  while (::waitpid(run.pid, &status, 0) < 0 && errno == EINTR) {
  }
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  for (std::FILE* file : files) {
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;) (file == files[0] ? run.out : run.err) += char(c);
    std::fclose(file);
  }
  return run;
}

// Runs engine_driver with the commands of the "> COMMAND ARGS" lines of `script`, in
// which "{tools}" and "{library}" stand for the build's paths.
Outcome RunScript(const std::string& script) {
  std::vector<std::string> args{kToolsDir + "/engine_driver"};
  std::istringstream lines(script);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("> ", 0) != 0) continue;
    std::istringstream words(
        ReplaceAll(ReplaceAll(line.substr(2), "{tools}", kToolsDir), "{library}", kLibrary));
    for (std::string word; words >> word;) args.push_back(word);
  }
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  return RunChild([&] {
    ::execv(argv[0], argv.data());
    std::fprintf(stderr, "cannot start %s: %s\n", argv[0], std::strerror(errno));
    ::_exit(127);
  });
}

// `text` with the diagnostics' time stamp prefix (naming the driver's process) as
// "<time> ", the build's paths as "{tools}" and "{library}", and the handles the driver
// printed ("loaded NAME 0x...", "library 0x...") as "{NAME}" and "{lib}".
std::string Neutral(std::string text, const Outcome& run) {
  static const std::regex stamp(
      "(^|\n)[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3} - pid=([0-9]+): ");
  for (std::smatch m; std::regex_search(text, m, stamp);) {
    EXPECT_EQ(std::to_string(run.pid), m[2].str()) << "diagnostic names another process";
    text.replace(static_cast<size_t>(m.position(0)), static_cast<size_t>(m.length(0)),
                 m[1].str() + "<time> ");
  }
  text = ReplaceAll(ReplaceAll(text, kToolsDir, "{tools}"), kLibrary, "{library}");
  // An unloaded module's address may come back for the next one: the lines that print a
  // handle name it themselves, and other mentions take the last module printed there.
  static const std::regex handle("(?:loaded (\\S+)|(library)) (0x[0-9a-f]{8})");
  std::map<std::string, std::string> names;
  for (std::sregex_iterator it(run.out.begin(), run.out.end(), handle), end; it != end; ++it) {
    names[(*it)[3].str()] = "{" + ((*it)[1].matched ? (*it)[1].str() : "lib") + "}";
  }
  text = std::regex_replace(text, std::regex("loaded (\\S+) 0x[0-9a-f]{8}"), "loaded $1 {$1}");
  for (const auto& [address, name] : names) text = ReplaceAll(text, address, name);
  return text;
}

// Alert lines as the default presenter writes them.
std::string Alert(const std::string& reason, const std::string& function) {
  return "*** Library Calling a Ombrix Function ***\n" + reason + "; function= \"" + function +
         "\"\n";
}

const std::string kNoBundle = "Couldn't find Ombrix bundle";
const std::string kNoFunction = "Had Ombrix bundle but failed to find function";
const std::string kUnavailable = std::to_string(LORVATH_ERR_ENGINE_UNAVAILABLE);

// The diagnostic of a search that found the run-time module "rt" or the development-host
// module "hsx".
std::string Fallback(const std::string& module, const std::string& function) {
  const bool rt = module == "rt";
  return "<time> LookupOmbrixRunTimeBundle: Fallback found a " +
         std::string(rt ? "runtime" : "HSX") + " bundle {" + module + "} for function \"" +
         function + "\"\n  bundle = Bundle <{tools}/" +
         (rt ? "ombrix_runtime.so> (com.ombrix.runtime)\n" : "ombrix_hsx.so> (com.ombrix.hsx)\n");
}

const std::string kOldThenNew =
    "<time> SetOmbrixRunTimeBundle: LookupOmbrixRunTimeBundle did not get correct bundle. "
    "Old then New:\n";
const std::string kAlreadyUnloaded =
    "<time> ExtCodeLoadOBFunction: Ombrix runtime already unloaded when attempting to call ";

// Each script is the driver's whole standard error: its echo of every command (which are
// also the commands run) and the library's diagnostics after the command that caused them.
TEST(EngineBindingTest, Scenarios) {
  const std::string loadRt = "> load rt {tools}/ombrix_runtime.so\n";
  const std::string loadHsx = "> load hsx {tools}/ombrix_hsx.so\n";
  const std::string rtLine = Fallback("rt", "NumericArrayResize");
  const std::string hsxLine = Fallback("hsx", "NumericArrayResize");
  const std::string noHandle = kUnavailable + " (no handle)\n";
  const struct {
    const char* name;
    std::string script;
    std::string out;
  } scenarios[] = {
      {"broker_answers_silently_and_is_asked_once",
       loadRt + loadHsx + "> load broker {tools}/ombrix_broker.so\n> broker-answer rt\n" +
           "> lib {library}\n> resize 10\n> calls\n> resize 20\n> calls\n> dispose\n",
       "loaded rt {rt}\nloaded hsx {hsx}\nloaded broker {broker}\nbroker-answer rt\n"
       "library {lib}\nresize 10 -> 0\ncalls rt=1\ncalls hsx=0\nasked broker=1\n"
       "resize 20 -> 0\ncalls rt=2\ncalls hsx=0\nasked broker=1\ndispose -> 0\n"},
      {"silent_broker_then_hsx_wins_over_earlier_runtime",
       loadRt + "> load broker {tools}/ombrix_broker.so\n" + loadHsx +
           "> lib {library}\n> resize 10\n" + rtLine + hsxLine + "> dispose\n> calls\n",
       "loaded rt {rt}\nloaded broker {broker}\nloaded hsx {hsx}\nlibrary {lib}\n"
       "resize 10 -> 0\ndispose -> 0\ncalls rt=0\nasked broker=1\ncalls hsx=2\n"},
      {"two_runtimes_first_one_wins",
       loadRt + "> load rtB {tools}/ombrix_runtime_b.so\n> lib {library}\n> resize 1\n" + rtLine +
           "> dispose\n> calls\n",
       "loaded rt {rt}\nloaded rtB {rtB}\nlibrary {lib}\nresize 1 -> 0\ndispose -> 0\n"
       "calls rt=2\ncalls rtB=0\n"},
      {"no_engine_alerts_and_fails_every_time",
       "> lib {library}\n> resize 10\n" + Alert(kNoBundle, "NumericArrayResize") + "> resize 10\n" +
           Alert(kNoBundle, "NumericArrayResize") + "> errtext 2\n" +
           Alert(kNoBundle, "GGetOneErrorCode") + "> dispose\n" +
           Alert(kNoBundle, "DSDisposeHandle"),
       "library {lib}\nresize 10 -> " + noHandle + "resize 10 -> " + noHandle +
           "errtext 2 -> 0 \"\"\ndispose -> " + kUnavailable + "\n"},
      {"announcing_prints_old_then_new_only_for_a_change_and_rebinds",
       loadRt + loadHsx + "> lib {library}\n> set rt\n> set rt\n> resize 4\n> dispose\n" +
           "> set hsx\n" + kOldThenNew +
           "Bundle <{tools}/ombrix_runtime.so> (com.ombrix.runtime)\n" +
           "Bundle <{tools}/ombrix_hsx.so> (com.ombrix.hsx)\n> resize 8\n> dispose\n> set null\n" +
           "> set null\n> set rt\n> calls\n",
       "loaded rt {rt}\nloaded hsx {hsx}\nlibrary {lib}\nset rt\nset rt\nresize 4 -> 0\n"
       "dispose -> 0\nset hsx\nresize 8 -> 0\ndispose -> 0\nset null\nset null\nset rt\n"
       "calls rt=2\ncalls hsx=2\n"},
      {"withdrawn_engine_reports_once_then_answers_zero_until_announced_again",
       loadRt + "> lib {library}\n> set rt\n> resize 5\n> dispose\n> set null\n> unload rt\n" +
           "> dispose\n" + kAlreadyUnloaded + "DSDisposeHandle\n> dispose\n> errtext 2\n" +
           kAlreadyUnloaded + "GGetOneErrorCode\n> errtext 2\n" +
           "> load rt2 {tools}/ombrix_runtime.so\n> set rt2\n> resize 3\n> dispose\n> calls\n",
       "loaded rt {rt}\nlibrary {lib}\nset rt\nresize 5 -> 0\ndispose -> 0\nset null\n"
       "unloaded rt\ndispose -> 0\ndispose -> 0\nerrtext 2 -> 0 \"\"\nerrtext 2 -> 0 \"\"\n"
       "loaded rt2 {rt2}\nset rt2\nresize 3 -> 0\ndispose -> 0\ncalls rt2=2\n"},
      // The main program's handle reaches every global module, the engine and the library
      // included; the library's own entries and the engine's dependencies never count.
      {"names_count_only_where_the_bundle_defines_them",
       "> load-global rt {tools}/ombrix_runtime.so\n> lib-global {library}\n> set main\n"
       "> resize 5\n" +
           Alert(kNoFunction, "NumericArrayResize") + "> set lib\n" + kOldThenNew +
           "Bundle <{tools}/engine_driver> (no identifier)\nBundle <{library}> (no identifier)\n" +
           "> resize 5\n" + Alert(kNoFunction, "NumericArrayResize") + "> set rt\n" + kOldThenNew +
           "Bundle <{library}> (no identifier)\n" +
           "Bundle <{tools}/ombrix_runtime.so> (com.ombrix.runtime)\n> ext malloc\n" +
           Alert(kNoFunction, "malloc") + "> ext NumericArrayResize\n> calls\n",
       "loaded rt {rt}\nlibrary {lib}\nset main\nresize 5 -> " + noHandle + "set lib\n" +
           "resize 5 -> " + noHandle +
           "set rt\next malloc -> null\next NumericArrayResize -> rt (stored)\ncalls rt=0\n"},
      {"engine_error_codes_and_texts_pass_through",
       loadRt + "> lib {library}\n> errtext 2\n" + Fallback("rt", "GGetOneErrorCode") +
           "> errtext 99\n> errtext 5000\n> errtext 5001\n> resize 3000000000\n",
       "loaded rt {rt}\nlibrary {lib}\nerrtext 2 -> 1 \"Memory is full.\" (handle)\n"
       "errtext 99 -> 0 \"\"\nerrtext 5000 -> 0 \"stale text\" (handle)\n"
       "errtext 5001 -> 1 \"\" (handle)\nresize 3000000000 -> 2 (no handle)\n"},
  };
  for (const auto& scenario : scenarios) {
    SCOPED_TRACE(scenario.name);
    const Outcome run = RunScript(scenario.script);
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_EQ(scenario.out, Neutral(run.out, run));
    EXPECT_EQ(scenario.script, Neutral(run.err, run));
  }
}

// Several threads make the first call of one function at once; under ThreadSanitizer
// any unsynchronised access to the slots or the cached bundle fails the driver.
TEST(EngineBindingTest, ConcurrentFirstCalls) {
  for (const char* bindBy : {"> set rt\n", ""}) {
    SCOPED_TRACE(*bindBy ? "announced" : "found by search");
    const Outcome run = RunScript("> load rt {tools}/ombrix_runtime.so\n> lib {library}\n" +
                                  std::string(bindBy) + "> race 8\n> calls\n");
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_NE(std::string::npos, run.out.find("race 8 -> 0 failed\ncalls rt=16\n")) << run.out;
  }
}

// An announced pointer that is no loaded module's handle is reported and then taken as a
// withdrawal; with no engine loaded, the next forwarded call fails instead of crashing.
TEST(EngineBindingTest, AnnouncedJunkIsReportedAndIgnored) {
  void* const unloaded = ::dlopen((kToolsDir + "/ombrix_runtime.so").c_str(), RTLD_NOW);
  ASSERT_NE(unloaded, nullptr) << ::dlerror();
  ASSERT_EQ(::dlclose(unloaded), 0);
  int onStack = 0;
  for (void* junk :
       {reinterpret_cast<void*>(uintptr_t{1}), static_cast<void*>(&onStack), unloaded}) {
    const Outcome run = RunChild([&] {
      SetOmbrixRunTimeBundle(static_cast<Lorvath_BundleRef>(junk));
      LStrHandle handle = nullptr;
      ::_exit(NumericArrayResize(5, 1, &handle, 8) == LORVATH_ERR_ENGINE_UNAVAILABLE ? 0 : 1);
    });
    char address[16];
    std::snprintf(address, sizeof address, "0x%08x", static_cast<uint32_t>(uintptr_t(junk)));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(Neutral(run.err, run), "<time> SetOmbrixRunTimeBundle: " + std::string(address) +
                                         " is not a loaded module; ignored\n" +
                                         Alert(kNoBundle, "NumericArrayResize"));
  }
}

// A thread cancelled while an entry's diagnostic waits on a full standard error unwinds
// through the entry, which turns other exceptions into failure results, and leaves the
// stream unlocked.
TEST(EngineBindingTest, CancellationUnwindsThroughAnEntry) {
#if defined(__has_feature)
#if __has_feature(thread_sanitizer) || __has_feature(address_sanitizer)
  GTEST_SKIP() << "under a sanitizer's fprintf interceptor a thread cancelled inside fprintf "
                  "leaves the stream's lock held, which the library cannot release";
#endif
#endif
  int pipeEnds[2];
  ASSERT_EQ(::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK), 0);
  while (::write(pipeEnds[1], "x", 1) == 1) {
  }
  ::fcntl(pipeEnds[1], F_SETFL, 0);  // the next diagnostic blocks, at a cancellation point
  const int savedStderr = ::dup(2);
  ::dup2(pipeEnds[1], 2);
  pthread_t thread;
  ::pthread_create(
      &thread, nullptr,
      [](void*) -> void* {
        SetOmbrixRunTimeBundle(reinterpret_cast<Lorvath_BundleRef>(uintptr_t{1}));
        return nullptr;
      },
      nullptr);
  ::usleep(100000);
  ::pthread_cancel(thread);
  void* ended = nullptr;
  ::pthread_join(thread, &ended);
  const bool unlocked = ::ftrylockfile(stderr) == 0;
  if (unlocked) ::funlockfile(stderr);
  ::dup2(savedStderr, 2);
  for (int fd : {savedStderr, pipeEnds[0], pipeEnds[1]}) ::close(fd);
  EXPECT_EQ(ended, PTHREAD_CANCELED);
  EXPECT_TRUE(unlocked);
}

}  // namespace
}  // namespace vo::qel::ob
