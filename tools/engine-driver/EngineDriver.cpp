// engine_driver: a small host that loads modules in the order its commands give,
// then liblorvath.so, and drives the library's run-time engine glue. Tests spawn it
// to see what a process with a given set of loaded modules does: each command is
// echoed to standard error as "> command" (so the library's diagnostics can be told
// apart by step) and its result is printed on standard output, one line each.
//
//   load NAME PATH            dlopen PATH (local); prints "loaded NAME 0x%08x"
//   load-global NAME PATH     dlopen PATH with RTLD_GLOBAL
//   unload NAME               dlclose the module
//   lib PATH | lib-global PATH   dlopen liblorvath.so and find its entries
//   set NAME|null|main|lib    SetOmbrixRunTimeBundle with that module's handle
//   broker-answer NAME|null   tell the broker stand-in (loaded as "broker") the engine
//   resize N                  NumericArrayResize(5, 1, &handle, N), then store N bytes
//   dispose                   DSDisposeHandle(handle)
//   errtext CODE              GGetOneErrorCode(CODE, &text), then DSDisposeHandle(text)
//   ext FUNCTION              ExtCodeLoadOBFunction on a fresh record for FUNCTION;
//                             prints the module that defines the answer
//   calls                     each stand-in's call count, the broker's question count
//   race N                    N threads make the first NumericArrayResize at once
//   string TEXT               CFStringFromCString(TEXT), then Lorvath_ReleaseString
//
// Exit status: 0, or 2 for a command it cannot carry out.
#include <dlfcn.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "lorvath.h"

namespace {

struct Library {
  void* handle = nullptr;
  decltype(&SetOmbrixRunTimeBundle) setBundle = nullptr;
  decltype(&ExtCodeLoadOBFunction) load = nullptr;
  decltype(&NumericArrayResize) resize = nullptr;
  decltype(&DSDisposeHandle) dispose = nullptr;
  decltype(&GGetOneErrorCode) errorText = nullptr;
  decltype(&CFStringFromCString) makeString = nullptr;
  decltype(&Lorvath_ReleaseString) releaseString = nullptr;
};

Library gLibrary;
std::map<std::string, void*> gModules;
std::vector<std::string> gModuleOrder;
LStrHandle gHandle = nullptr;

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "engine_driver: %s\n", why.c_str());
  std::exit(2);
}

template <typename Function>
void Find(void* handle, const char* name, Function& function) {
  function = reinterpret_cast<Function>(::dlsym(handle, name));
  if (function == nullptr) Fail(std::string("library lacks ") + name);
}

void RequireLibrary() {
  if (gLibrary.handle == nullptr) Fail("no library loaded");
}

void* Module(const std::string& name) {
  if (name == "null") return nullptr;
  if (name == "main") return ::dlopen(nullptr, RTLD_NOW);
  if (name == "lib") return gLibrary.handle;
  const auto it = gModules.find(name);
  if (it == gModules.end()) Fail("unknown module " + name);
  return it->second;
}

unsigned LowBits(const void* handle) {
  return static_cast<unsigned>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handle)));
}

void LoadModule(const std::string& name, const std::string& path, int mode) {
  void* const handle = ::dlopen(path.c_str(), RTLD_NOW | mode);
  if (handle == nullptr) Fail(std::string("dlopen: ") + ::dlerror());
  gModules[name] = handle;
  gModuleOrder.push_back(name);
  std::printf("loaded %s 0x%08x\n", name.c_str(), LowBits(handle));
}

void LoadLibrary(const std::string& path, int mode) {
  gLibrary.handle = ::dlopen(path.c_str(), RTLD_NOW | mode);
  if (gLibrary.handle == nullptr) Fail(std::string("dlopen: ") + ::dlerror());
  Find(gLibrary.handle, "SetOmbrixRunTimeBundle", gLibrary.setBundle);
  Find(gLibrary.handle, "ExtCodeLoadOBFunction", gLibrary.load);
  Find(gLibrary.handle, "NumericArrayResize", gLibrary.resize);
  Find(gLibrary.handle, "DSDisposeHandle", gLibrary.dispose);
  Find(gLibrary.handle, "GGetOneErrorCode", gLibrary.errorText);
  Find(gLibrary.handle, "CFStringFromCString", gLibrary.makeString);
  Find(gLibrary.handle, "Lorvath_ReleaseString", gLibrary.releaseString);
  std::printf("library 0x%08x\n", LowBits(gLibrary.handle));
}

void Resize(long count) {
  RequireLibrary();
  const int32_t rc = gLibrary.resize(5, 1, &gHandle, static_cast<size_t>(count));
  if (rc == 0 && gHandle != nullptr) {
    (*gHandle)->cnt = static_cast<int32_t>(count);
    std::memset((*gHandle)->str, 'x', static_cast<size_t>(count));
  }
  std::printf("resize %ld -> %d%s\n", count, rc, gHandle == nullptr ? " (no handle)" : "");
}

void Dispose() {
  RequireLibrary();
  const int32_t rc = gLibrary.dispose(gHandle);
  if (rc == 0) gHandle = nullptr;
  std::printf("dispose -> %d\n", rc);
}

void ErrorText(int32_t code) {
  RequireLibrary();
  LStrHandle text = nullptr;
  const uint8_t answer = gLibrary.errorText(code, &text);
  std::string body;
  if (text != nullptr && *text != nullptr) {
    body.assign(reinterpret_cast<const char*>((*text)->str), static_cast<size_t>((*text)->cnt));
  }
  std::printf("errtext %d -> %d \"%s\"%s\n", code, answer, body.c_str(),
              text != nullptr ? " (handle)" : "");
  if (text != nullptr) gLibrary.dispose(text);
}

void LoadFunction(const std::string& name) {
  RequireLibrary();
  // A record of the caller's own: the slot, then the name.
  std::vector<char> storage(sizeof(Lorvath_OBFunctionRecord) + name.size() + 1, 0);
  auto* record = reinterpret_cast<Lorvath_OBFunctionRecord*>(storage.data());
  std::memcpy(record->name, name.c_str(), name.size() + 1);
  const Lorvath_OBFunction function = gLibrary.load(record);
  if (function == nullptr) {
    std::printf("ext %s -> null%s\n", name.c_str(), record->function == nullptr ? "" : " (stored)");
    return;
  }
  std::string owner = "unknown";
  Dl_info info;
  if (::dladdr(reinterpret_cast<void*>(function), &info) != 0) {
    for (const auto& entry : gModules) {
      Dl_info moduleInfo;
      void* const probe = ::dlsym(entry.second, "OmbrixBundleIdentifier");
      if (probe != nullptr && ::dladdr(probe, &moduleInfo) != 0 &&
          moduleInfo.dli_fbase == info.dli_fbase) {
        owner = entry.first;
      }
    }
    if (owner == "unknown" && gLibrary.handle != nullptr) {
      Dl_info libraryInfo;
      if (::dladdr(reinterpret_cast<void*>(gLibrary.resize), &libraryInfo) != 0 &&
          libraryInfo.dli_fbase == info.dli_fbase) {
        owner = "lib";
      }
    }
  }
  std::printf(
      "ext %s -> %s%s\n", name.c_str(), owner.c_str(),
      reinterpret_cast<Lorvath_OBFunction>(record->function) == function ? " (stored)" : "");
}

void Calls() {
  for (const std::string& name : gModuleOrder) {
    void* const handle = gModules[name];
    if (handle == nullptr) continue;
    if (auto count = reinterpret_cast<int32_t (*)()>(::dlsym(handle, "OmbrixStandIn_CallCount"))) {
      std::printf("calls %s=%d\n", name.c_str(), count());
    }
    if (auto asked = reinterpret_cast<int32_t (*)()>(::dlsym(handle, "OmbrixBroker_TimesAsked"))) {
      std::printf("asked %s=%d\n", name.c_str(), asked());
    }
  }
}

void Race(int threads) {
  RequireLibrary();
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::vector<int32_t> results(static_cast<size_t>(threads), -1);
  std::vector<std::thread> workers;
  for (int i = 0; i < threads; ++i) {
    workers.emplace_back([&, i] {
      ready.fetch_add(1);
      while (!go.load()) std::this_thread::yield();
      LStrHandle handle = nullptr;
      int32_t rc = gLibrary.resize(5, 1, &handle, 8);
      if (rc == 0 && handle != nullptr) {
        (*handle)->cnt = 8;
        std::memset((*handle)->str, 'r', 8);
        rc = gLibrary.dispose(handle);
      }
      results[static_cast<size_t>(i)] = rc;
    });
  }
  while (ready.load() < threads) std::this_thread::yield();
  go.store(true);
  for (auto& worker : workers) worker.join();
  int failures = 0;
  for (int32_t rc : results) failures += rc != 0;
  std::printf("race %d -> %d failed\n", threads, failures);
}

void MakeString(const std::string& text) {
  RequireLibrary();
  const Lorvath_StringRef string = gLibrary.makeString(text.c_str());
  std::printf("string \"%s\" -> %s\n", text.c_str(), string != nullptr ? "made" : "null");
  gLibrary.releaseString(string);
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::vector<std::string> args(argv + 1, argv + argc);
  size_t i = 0;
  auto next = [&]() -> const std::string& {
    if (i >= args.size()) Fail("missing argument");
    return args[i++];
  };
  const std::map<std::string, size_t> arity = {
      {"load", 2}, {"load-global", 2},   {"unload", 1}, {"lib", 1},     {"lib-global", 1},
      {"set", 1},  {"broker-answer", 1}, {"resize", 1}, {"dispose", 0}, {"errtext", 1},
      {"ext", 1},  {"calls", 0},         {"race", 1},   {"string", 1}};
  while (i < args.size()) {
    const auto known = arity.find(args[i]);
    if (known == arity.end()) Fail("unknown command " + args[i]);
    if (i + known->second >= args.size()) Fail("missing argument of " + args[i]);
    std::string echo = ">";
    for (size_t k = i; k <= i + known->second; ++k) echo += " " + args[k];
    std::fprintf(stderr, "%s\n", echo.c_str());
    const std::string command = next();
    if (command == "load" || command == "load-global") {
      const std::string name = next();
      LoadModule(name, next(), command == "load" ? RTLD_LOCAL : RTLD_GLOBAL);
    } else if (command == "unload") {
      const std::string name = next();
      if (::dlclose(Module(name)) != 0) Fail("dlclose failed");
      gModules[name] = nullptr;
      std::printf("unloaded %s\n", name.c_str());
    } else if (command == "lib" || command == "lib-global") {
      LoadLibrary(next(), command == "lib" ? RTLD_LOCAL : RTLD_GLOBAL);
    } else if (command == "set") {
      RequireLibrary();
      const std::string name = next();
      gLibrary.setBundle(static_cast<Lorvath_BundleRef>(Module(name)));
      std::printf("set %s\n", name.c_str());
    } else if (command == "broker-answer") {
      auto answer =
          reinterpret_cast<void (*)(void*)>(::dlsym(Module("broker"), "OmbrixBroker_SetBundle"));
      if (answer == nullptr) Fail("broker lacks OmbrixBroker_SetBundle");
      const std::string name = next();
      answer(Module(name));
      std::printf("broker-answer %s\n", name.c_str());
    } else if (command == "resize") {
      Resize(std::strtol(next().c_str(), nullptr, 10));
    } else if (command == "dispose") {
      Dispose();
    } else if (command == "errtext") {
      ErrorText(static_cast<int32_t>(std::strtol(next().c_str(), nullptr, 10)));
    } else if (command == "ext") {
      LoadFunction(next());
    } else if (command == "calls") {
      Calls();
    } else if (command == "race") {
      Race(static_cast<int>(std::strtol(next().c_str(), nullptr, 10)));
    } else if (command == "string") {
      MakeString(next());
    } else {
      Fail("unknown command " + command);
    }
  }
  return 0;
}
