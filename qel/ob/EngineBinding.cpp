#include "qel/ob/EngineBinding.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <link.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "qel/osdep/Alert.h"
#include "qel/osdep/Bundle.h"
#include "qel/osdep/CFString.h"
#include "qel/osdep/Process.h"

namespace vo::qel::ob {
namespace {

using osdep::BundleRef;

// A forwarding record of the library's own: the layout of Lorvath_OBFunctionRecord
// with room for its name.
template <size_t N>
struct ForwardingRecord {
  Lorvath_OBFunction function;
  char name[N];

  Lorvath_OBFunctionRecord* get() { return reinterpret_cast<Lorvath_OBFunctionRecord*>(this); }
};
static_assert(offsetof(ForwardingRecord<1>, name) == offsetof(Lorvath_OBFunctionRecord, name),
              "a forwarding record's name must follow its slot");

ForwardingRecord<sizeof("GGetOneErrorCode")> gGGetOneErrorCode = {nullptr, "GGetOneErrorCode"};
ForwardingRecord<sizeof("DSDisposeHandle")> gDSDisposeHandle = {nullptr, "DSDisposeHandle"};
ForwardingRecord<sizeof("NumericArrayResize")> gNumericArrayResize = {nullptr,
                                                                      "NumericArrayResize"};

// The engine's bundle, as announced or as found; not retained.
std::atomic<BundleRef> gOBRTBundle{nullptr};

// Set once an engine has been announced: a missing engine then means one that has
// gone, not one that never came.
std::atomic<int32_t> gHasBeenInited{0};

// Counts the times the resolved functions were forgotten, so that a resolution that
// raced with it can take its own result back.
std::atomic<uint32_t> gBindingGeneration{0};

constexpr char kNoBundleReason[] = "Couldn't find Ombrix bundle";
constexpr char kNoFunctionReason[] = "Had Ombrix bundle but failed to find function";

Lorvath_OBFunction LoadSlot(const Lorvath_OBFunctionRecord* record, int order) {
  return __atomic_load_n(&record->function, order);
}

// Stores a resolved function unless the functions were forgotten after the
// resolution began; then the slot is left (or made) empty again.
void PublishSlot(Lorvath_OBFunctionRecord* record, Lorvath_OBFunction function,
                 uint32_t generation) {
  __atomic_store_n(&record->function, function, __ATOMIC_SEQ_CST);
  if (gBindingGeneration.load() != generation) {
    __atomic_compare_exchange_n(&record->function, &function, nullptr, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
  }
}

void ForgetResolvedFunctions() {
  gBindingGeneration.fetch_add(1);
  for (Lorvath_OBFunctionRecord* record :
       {gGGetOneErrorCode.get(), gDSDisposeHandle.get(), gNumericArrayResize.get()}) {
    __atomic_store_n(&record->function, nullptr, __ATOMIC_SEQ_CST);
  }
}

// What an engine function becomes once the engine has gone: it answers 0.
int32_t NullNumericArrayResize(int32_t, int32_t, void*, size_t) { return 0; }
int32_t NullDSDisposeHandle(void*) { return 0; }
uint8_t NullGGetOneErrorCode(int32_t, LStrHandle*) { return 0; }
intptr_t NullFunction() { return 0; }

// Each record gets a null function of its own type, so calling it is a well-typed
// call; a caller's own record gets the untyped one.
Lorvath_OBFunction NullFunctionFor(const Lorvath_OBFunctionRecord* record) {
  if (record == gNumericArrayResize.get()) {
    return reinterpret_cast<Lorvath_OBFunction>(&NullNumericArrayResize);
  }
  if (record == gDSDisposeHandle.get()) {
    return reinterpret_cast<Lorvath_OBFunction>(&NullDSDisposeHandle);
  }
  if (record == gGGetOneErrorCode.get()) {
    return reinterpret_cast<Lorvath_OBFunction>(&NullGGetOneErrorCode);
  }
  return reinterpret_cast<Lorvath_OBFunction>(&NullFunction);
}

// Keeps the lines of one diagnostic together when several threads report at once.
class StderrLock {
 public:
  StderrLock() { ::flockfile(stderr); }
  ~StderrLock() { ::funlockfile(stderr); }
  StderrLock(const StderrLock&) = delete;
  StderrLock& operator=(const StderrLock&) = delete;
};

__attribute__((format(printf, 1, 2))) void LogFPrintf(const char* format, ...) {
  timeval now{};
  ::gettimeofday(&now, nullptr);
  const time_t seconds = now.tv_sec;
  tm local{};
  ::localtime_r(&seconds, &local);
  const double second = local.tm_sec + now.tv_usec / 1e6 + 0.0005;

  StderrLock lock;
  std::fprintf(stderr, "%04d-%02d-%02d %02d:%02d:%06.3f - pid=%d: ", local.tm_year + 1900,
               local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, second,
               static_cast<int>(::getpid()));
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
}

// A bundle reference as the diagnostics print it: its low 32 bits.
unsigned LowBits(BundleRef bundle) {
  return static_cast<unsigned>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(bundle)));
}

void ExitAlert(const char* reason, const char* name) {
  char text[256];
  std::snprintf(text, sizeof(text), "%s; function= \"%s\"", reason, name);
  // The alert cannot unwind: a cancellation waits until it has been answered.
  const osdep::NoCancellation noCancellation;
  osdep::DisplayAlert(kEngineAlertTitle, text, "OK", nullptr);
}

// Whether `bundle` is the handle of a module loaded now. Only handle values are compared,
// so a stale or made-up pointer is never followed.
bool IsLoadedBundle(BundleRef bundle) {
  const auto bundles = osdep::GetAllBundles();
  return std::find(bundles.begin(), bundles.end(), bundle) != bundles.end();
}

// REQUIRES: called inside a catch handler. Rethrows a thread's cancellation, whose
// unwinding must go on; returns for anything else (an exception of an engine function,
// say), which the entry turns into its failure result.
void PassCancellation() {
  try {
    throw;
  } catch (const abi::__forced_unwind&) {
    throw;
  } catch (...) {
  }
}

BundleRef LookupOmbrixRunTimeBundle(const char* name) {
  if (BundleRef broker = osdep::GetBundleWithIdentifier(kBundleBrokerIdentifier)) {
    if (void* address = osdep::GetFunctionPointerForName(broker, kGetOmbrixBundleName)) {
      const auto getBundle = reinterpret_cast<GetOmbrixBundleFunction>(address);
      if (void* answer = getBundle()) return osdep::BundleFromHandle(answer);
    }
  }

  BundleRef developmentHost = nullptr;
  BundleRef runTime = nullptr;
  for (const BundleRef bundle : osdep::GetAllBundles()) {
    if (developmentHost != nullptr) break;
    const char* const identifier = osdep::GetBundleIdentifier(bundle);
    if (identifier == nullptr) continue;
    const char* kind = nullptr;
    if (std::strcmp(identifier, kDevelopmentHostIdentifier) == 0) {
      developmentHost = bundle;
      kind = "HSX";
    } else if (runTime == nullptr && std::strcmp(identifier, kRunTimeEngineIdentifier) == 0) {
      runTime = bundle;
      kind = "runtime";
    }
    if (kind != nullptr) {
      char description[osdep::kBundleDescriptionSize];
      osdep::DescribeBundle(bundle, description, sizeof(description));
      StderrLock lock;
      LogFPrintf(
          "LookupOmbrixRunTimeBundle: Fallback found a %s bundle 0x%08x for function "
          "\"%s\"\n  bundle = ",
          kind, LowBits(bundle), name);
      std::fputs(description, stderr);
    }
  }
  return developmentHost != nullptr ? developmentHost : runTime;
}

// Whether `address` lies in the module that holds this code: a bundle that is this
// library itself would otherwise forward each call back into its own entry forever.
bool IsInThisModule(const void* address) {
  Dl_info info;
  link_map* owner = nullptr;
  link_map* self = nullptr;
  if (::dladdr1(address, &info, reinterpret_cast<void**>(&owner), RTLD_DL_LINKMAP) == 0) {
    return false;
  }
  if (::dladdr1(reinterpret_cast<const void*>(&IsInThisModule), &info,
                reinterpret_cast<void**>(&self), RTLD_DL_LINKMAP) == 0) {
    return false;
  }
  return owner == self;
}

// First call of a forwarded function: resolve it, then call it, or answer `failure`
// when it cannot be had. Kept out of line so that the resolved path of each entry is
// a load and a jump.
template <typename Function, size_t N, typename Result, typename... Args>
__attribute__((noinline)) Result ResolveAndCall(ForwardingRecord<N>& record, Result failure,
                                                Args... args) {
  const auto function = reinterpret_cast<Function>(CallOBRT(record.get()));
  return function != nullptr ? function(args...) : failure;
}

template <typename Function, size_t N>
inline Function Resolved(ForwardingRecord<N>& record) {
  return reinterpret_cast<Function>(LoadSlot(record.get(), __ATOMIC_ACQUIRE));
}

}  // namespace
}  // namespace vo::qel::ob

using vo::qel::ob::PassCancellation;
using vo::qel::ob::ResolveAndCall;
using vo::qel::ob::Resolved;

extern "C" {

void SetOmbrixRunTimeBundle(Lorvath_BundleRef newBundle) {
  using namespace vo::qel::ob;
  try {
    BundleRef bundle = vo::qel::osdep::BundleFromHandle(newBundle);
    if (bundle != nullptr && !IsLoadedBundle(bundle)) {
      LogFPrintf("SetOmbrixRunTimeBundle: 0x%08x is not a loaded module; ignored\n",
                 LowBits(bundle));
      bundle = nullptr;  // taken as a withdrawal, so nothing can call into it
    }
    const BundleRef old = gOBRTBundle.exchange(bundle);
    if (old != bundle) {
      if (old != nullptr && bundle != nullptr) {
        char oldDescription[vo::qel::osdep::kBundleDescriptionSize];
        char newDescription[vo::qel::osdep::kBundleDescriptionSize];
        vo::qel::osdep::DescribeBundle(old, oldDescription, sizeof(oldDescription));
        vo::qel::osdep::DescribeBundle(bundle, newDescription, sizeof(newDescription));
        StderrLock lock;
        LogFPrintf(
            "SetOmbrixRunTimeBundle: LookupOmbrixRunTimeBundle did not get correct bundle. "
            "Old then New:\n");
        std::fputs(oldDescription, stderr);
        std::fputs(newDescription, stderr);
      }
      // Functions of the old engine must not be called once it may be unloaded.
      ForgetResolvedFunctions();
    }
    if (bundle != nullptr) gHasBeenInited.store(1);
  } catch (...) {
    PassCancellation();
  }
}

Lorvath_OBFunction ExtCodeLoadOBFunction(Lorvath_OBFunctionRecord* record) {
  using namespace vo::qel::ob;
  try {
    if (record == nullptr) return nullptr;
    const uint32_t generation = gBindingGeneration.load();

    BundleRef bundle = gOBRTBundle.load();
    if (bundle == nullptr) {
      bundle = LookupOmbrixRunTimeBundle(record->name);
      BundleRef expected = nullptr;
      // An engine announced meanwhile wins over the one found.
      if (bundle != nullptr && !gOBRTBundle.compare_exchange_strong(expected, bundle)) {
        bundle = expected;
      }
    }

    if (bundle != nullptr) {
      void* address = vo::qel::osdep::GetFunctionPointerForName(bundle, record->name);
      if (address != nullptr && IsInThisModule(address)) address = nullptr;
      if (address == nullptr) {
        ExitAlert(kNoFunctionReason, record->name);
        return nullptr;
      }
      const auto function = reinterpret_cast<Lorvath_OBFunction>(address);
      PublishSlot(record, function, generation);
      return function;
    }

    if (gHasBeenInited.load() != 0) {
      LogFPrintf(
          "ExtCodeLoadOBFunction: Ombrix runtime already unloaded when attempting to call %s\n",
          record->name);
      const Lorvath_OBFunction function = NullFunctionFor(record);
      PublishSlot(record, function, generation);
      return function;
    }

    ExitAlert(kNoBundleReason, record->name);
    return nullptr;
  } catch (...) {
    PassCancellation();
    return nullptr;
  }
}

Lorvath_OBFunction CallOBRT(Lorvath_OBFunctionRecord* record) {
  try {
    if (record == nullptr) return nullptr;
    const Lorvath_OBFunction function = vo::qel::ob::LoadSlot(record, __ATOMIC_ACQUIRE);
    return function != nullptr ? function : ExtCodeLoadOBFunction(record);
  } catch (...) {
    PassCancellation();
    return nullptr;
  }
}

int32_t NumericArrayResize(int32_t typeCode, int32_t numDims, void* handleVariable,
                           size_t newSize) {
  using Function = vo::qel::ob::NumericArrayResizeFunction;
  auto& record = vo::qel::ob::gNumericArrayResize;
  try {
    if (const auto function = Resolved<Function>(record)) {
      return function(typeCode, numDims, handleVariable, newSize);
    }
    return ResolveAndCall<Function>(record, LORVATH_ERR_ENGINE_UNAVAILABLE, typeCode, numDims,
                                    handleVariable, newSize);
  } catch (...) {
    PassCancellation();
    return LORVATH_ERR_ENGINE_UNAVAILABLE;
  }
}

int32_t DSDisposeHandle(void* handle) {
  using Function = vo::qel::ob::DSDisposeHandleFunction;
  auto& record = vo::qel::ob::gDSDisposeHandle;
  try {
    if (const auto function = Resolved<Function>(record)) return function(handle);
    return ResolveAndCall<Function>(record, LORVATH_ERR_ENGINE_UNAVAILABLE, handle);
  } catch (...) {
    PassCancellation();
    return LORVATH_ERR_ENGINE_UNAVAILABLE;
  }
}

uint8_t GGetOneErrorCode(int32_t errorCode, LStrHandle* text) {
  using Function = vo::qel::ob::GGetOneErrorCodeFunction;
  auto& record = vo::qel::ob::gGGetOneErrorCode;
  try {
    if (const auto function = Resolved<Function>(record)) return function(errorCode, text);
    return ResolveAndCall<Function>(record, uint8_t{0}, errorCode, text);
  } catch (...) {
    PassCancellation();
    return 0;
  }
}

Lorvath_StringRef CFStringFromCString(const char* text) {
  using namespace vo::qel::osdep;
  try {
    return reinterpret_cast<Lorvath_StringRef>(
        CFStringCreateWithCString(text, kCFStringEncodingASCII));
  } catch (...) {
    PassCancellation();
    return nullptr;
  }
}

void Lorvath_ReleaseString(Lorvath_StringRef string) {
  try {
    vo::qel::osdep::CFRelease(reinterpret_cast<vo::qel::osdep::CFStringRef>(string));
  } catch (...) {
    PassCancellation();
  }
}

}  // extern "C"
