// The run-time engine binding as a host sees it: most cases run engine_driver, which loads
// the stand-in modules in the case's order, then the real liblorvath.so, and compare its
// whole transcript, with addresses, paths and times made neutral.
#include "qel/ob/EngineBinding.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <regex>
#include <sstream>
#include <string>

namespace vo::qel::ob {
namespace {

const std::string kToolsDir = LORVATH_TOOLS_DIR;
const std::string kLibrary = LORVATH_LIBRARY_PATH;

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// The output with time stamps as "<time> ", the build's paths as "{tools}" and "{library}",
// and the handles the driver printed as "{NAME}" or "{lib}"; the driver's acknowledgements
// of loading and announcing are left out, as the echoed command says as much.
std::string Neutral(const std::string& out, const std::string& pid) {
  static const std::regex stamp(
      "[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3} - pid=([0-9]+): (.*)");
  static const std::regex handle("(?:loaded (\\S+)|(library)) (0x[0-9a-f]{8})");
  static const std::regex acknowledgement("(loaded|unloaded|library|set|broker-answer) .*");
  // An unloaded module's address may come back for the next one: a mention takes the
  // last module printed there.
  std::map<std::string, std::string> names;
  std::string text;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    if (std::regex_match(line, m, handle)) {
      names[m[3].str()] = "{" + (m[1].matched ? m[1].str() : "lib") + "}";
    } else if (std::regex_match(line, m, stamp)) {
      EXPECT_EQ(pid, m[1].str()) << "diagnostic names another process";
      text += "<time> " + m[2].str() + "\n";
    } else if (!std::regex_match(line, acknowledgement)) {
      text += line + "\n";
    }
  }
  text = ReplaceAll(ReplaceAll(text, kToolsDir, "{tools}"), kLibrary, "{library}");
  for (const auto& [address, name] : names) text = ReplaceAll(text, address, name);
  return text;
}

// The neutral output of engine_driver (which must succeed; its streams are line-buffered,
// so they keep their order) run with the "> COMMAND ARGS" lines of `script`. The shell
// prints its pid, which the driver keeps.
std::string RunScript(const std::string& script) {
  std::string command = "echo $$; exec {tools}/engine_driver";
  std::istringstream lines(script);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("> ", 0) == 0) command += " " + line.substr(2);
  }
  command = ReplaceAll(ReplaceAll(command, "{tools}", kToolsDir), "{library}", kLibrary);
  std::string out;
  std::FILE* const pipe = ::popen((command + " 2>&1").c_str(), "r");
  for (int c; pipe != nullptr && (c = std::fgetc(pipe)) != EOF;) out += char(c);
  EXPECT_EQ(0, pipe == nullptr ? -1 : ::pclose(pipe)) << out;
  const std::string pid = out.substr(0, out.find('\n'));
  return Neutral(out.erase(0, pid.size() + 1), pid);
}

// Alert lines as the default presenter writes them.
std::string Alert(const std::string& reason, const std::string& function) {
  return "*** Library Calling a Ombrix Function ***\n" + reason + "; function= \"" + function +
         "\"\n";
}

const std::string kNoBundle = "Couldn't find Ombrix bundle";
const std::string kNoFunction = "Had Ombrix bundle but failed to find function";
const std::string kUnavailable = std::to_string(LORVATH_ERR_ENGINE_UNAVAILABLE);

// The diagnostic of a search that found the run-time module "rt" or the host module "hsx".
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

// Each script is the driver's whole output: its echo of each command (the commands run),
// the library's diagnostics and the result.
TEST(EngineBindingTest, Scenarios) {
  const std::string loadRt = "> load rt {tools}/ombrix_runtime.so\n";
  const std::string loadHsx = "> load hsx {tools}/ombrix_hsx.so\n";
  const std::string loadBroker = "> load broker {tools}/ombrix_broker.so\n";
  const std::string rtLine = Fallback("rt", "NumericArrayResize");
  const std::string noHandle = kUnavailable + " (no handle)\n";
  const struct {
    const char* name;
    std::string script;
  } scenarios[] = {
      {"broker_answers_silently_and_is_asked_once",
       loadRt + loadHsx + loadBroker + "> broker-answer rt\n> lib {library}\n> resize 10\n" +
           "resize 10 -> 0\n> calls\ncalls rt=1\ncalls hsx=0\nasked broker=1\n> resize 20\n" +
           "resize 20 -> 0\n> calls\ncalls rt=2\ncalls hsx=0\nasked broker=1\n"},
      // The search stops at the development host; of several run-time modules, the first.
      {"silent_broker_then_hsx_wins_over_earlier_runtimes",
       loadRt + "> load rtB {tools}/ombrix_runtime_b.so\n" + loadBroker + loadHsx +
           "> lib {library}\n> resize 10\n" + rtLine + Fallback("hsx", "NumericArrayResize") +
           "resize 10 -> 0\n> dispose\ndispose -> 0\n> calls\ncalls rt=0\ncalls rtB=0\n" +
           "asked broker=1\ncalls hsx=2\n"},
      {"no_engine_alerts_and_fails_every_time",
       "> lib {library}\n> resize 10\n" + Alert(kNoBundle, "NumericArrayResize") + "resize 10 -> " +
           noHandle + "> resize 10\n" + Alert(kNoBundle, "NumericArrayResize") + "resize 10 -> " +
           noHandle + "> errtext 2\n" + Alert(kNoBundle, "GGetOneErrorCode") +
           "errtext 2 -> 0 \"\"\n> dispose\n" + Alert(kNoBundle, "DSDisposeHandle") +
           "dispose -> " + kUnavailable + "\n"},
      {"announcing_prints_old_then_new_only_for_a_change_and_rebinds",
       loadRt + loadHsx + "> lib {library}\n> set rt\n> set rt\n> resize 4\nresize 4 -> 0\n" +
           "> set hsx\n" + kOldThenNew + "Bundle <{tools}/ombrix_runtime.so> " +
           "(com.ombrix.runtime)\nBundle <{tools}/ombrix_hsx.so> (com.ombrix.hsx)\n" +
           "> resize 8\nresize 8 -> 0\n> set null\n> set null\n> set rt\n> calls\ncalls rt=1\n" +
           "calls hsx=1\n"},
      {"withdrawn_engine_reports_once_then_answers_zero_until_announced_again",
       loadRt + "> lib {library}\n> set rt\n> resize 5\nresize 5 -> 0\n> dispose\ndispose -> 0\n" +
           "> set null\n> unload rt\n> dispose\n" + kAlreadyUnloaded + "DSDisposeHandle\n" +
           "dispose -> 0\n> dispose\ndispose -> 0\n> errtext 2\n" + kAlreadyUnloaded +
           "GGetOneErrorCode\nerrtext 2 -> 0 \"\"\n> errtext 2\nerrtext 2 -> 0 \"\"\n" +
           "> load rt2 {tools}/ombrix_runtime.so\n> set rt2\n> resize 3\nresize 3 -> 0\n" +
           "> dispose\ndispose -> 0\n> calls\ncalls rt2=2\n"},
      // The main program's handle reaches every global module, the engine and the library
      // included; the library's own entries and the engine's dependencies never count.
      {"names_count_only_where_the_bundle_defines_them",
       "> load-global rt {tools}/ombrix_runtime.so\n> lib-global {library}\n> set main\n" +
           std::string("> resize 5\n") + Alert(kNoFunction, "NumericArrayResize") + "resize 5 -> " +
           noHandle + "> set lib\n" + kOldThenNew +
           "Bundle <{tools}/engine_driver> (no identifier)\nBundle <{library}> (no identifier)\n" +
           "> resize 5\n" + Alert(kNoFunction, "NumericArrayResize") + "resize 5 -> " + noHandle +
           "> set rt\n" + kOldThenNew + "Bundle <{library}> (no identifier)\n" +
           "Bundle <{tools}/ombrix_runtime.so> (com.ombrix.runtime)\n> ext malloc\n" +
           Alert(kNoFunction, "malloc") + "ext malloc -> null\n> ext NumericArrayResize\n" +
           "ext NumericArrayResize -> rt (stored)\n> calls\ncalls rt=0\n"},
      {"engine_error_codes_and_texts_pass_through",
       loadRt + "> lib {library}\n> errtext 2\n" + Fallback("rt", "GGetOneErrorCode") +
           "errtext 2 -> 1 \"Memory is full.\" (handle)\n> errtext 99\nerrtext 99 -> 0 \"\"\n" +
           "> errtext 5000\nerrtext 5000 -> 0 \"stale text\" (handle)\n> errtext 5001\n" +
           "errtext 5001 -> 1 \"\" (handle)\n> resize 3000000000\n" +
           "resize 3000000000 -> 2 (no handle)\n"},
  };
  for (const auto& scenario : scenarios) {
    EXPECT_EQ(scenario.script, RunScript(scenario.script)) << scenario.name;
  }
}

// Several threads make the first call of one function at once; under ThreadSanitizer
// any unsynchronised access to the slots or the cached bundle fails the driver.
TEST(EngineBindingTest, ConcurrentFirstCalls) {
  for (const char* bindBy : {"> set rt\n", ""}) {
    SCOPED_TRACE(*bindBy ? "announced" : "found by search");
    const std::string out = RunScript("> load rt {tools}/ombrix_runtime.so\n> lib {library}\n" +
                                      std::string(bindBy) + "> race 8\n> calls\n");
    EXPECT_NE(std::string::npos, out.find("race 8 -> 0 failed\n> calls\ncalls rt=16\n")) << out;
  }
}

// An announced pointer that is no loaded module's handle is reported and then taken as a
// withdrawal; with no engine loaded, the next forwarded call fails instead of crashing.
TEST(EngineBindingTest, AnnouncedJunkIsReportedAndIgnored) {
  void* const unloaded = ::dlopen((kToolsDir + "/ombrix_runtime.so").c_str(), RTLD_NOW);
  ASSERT_NE(unloaded, nullptr) << ::dlerror();
  ASSERT_EQ(::dlclose(unloaded), 0);
  for (void* junk : {reinterpret_cast<void*>(uintptr_t{1}), unloaded}) {
    ::testing::internal::CaptureStderr();
    SetOmbrixRunTimeBundle(static_cast<Lorvath_BundleRef>(junk));
    LStrHandle handle = nullptr;
    EXPECT_EQ(LORVATH_ERR_ENGINE_UNAVAILABLE, NumericArrayResize(5, 1, &handle, 8));
    const std::string out = ::testing::internal::GetCapturedStderr();
    char address[16];
    std::snprintf(address, sizeof address, "0x%08x", static_cast<uint32_t>(uintptr_t(junk)));
    EXPECT_EQ(Neutral(out, std::to_string(::getpid())),
              "<time> SetOmbrixRunTimeBundle: " + std::string(address) +
                  " is not a loaded module; ignored\n" + Alert(kNoBundle, "NumericArrayResize"));
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
