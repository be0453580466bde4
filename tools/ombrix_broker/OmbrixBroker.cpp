// A stand-in for the host's bundle broker: the module that knows which loaded bundle
// is the run-time engine. GetOmbrixBundle answers the bundle (a dlopen handle) that
// whoever loaded the engine announced with OmbrixBroker_SetBundle, or null before
// that. OmbrixBroker_TimesAsked counts the questions, so tests can see whether a
// caller asked again.
//
// Thread-safe.
#include <atomic>
#include <cstdint>

#define OMBRIX_EXPORT __attribute__((visibility("default")))

namespace {

std::atomic<void*> gBundle{nullptr};
std::atomic<int32_t> gTimesAsked{0};

}  // namespace

extern "C" OMBRIX_EXPORT const char OmbrixBundleIdentifier[] = "com.ombrix.bundlebroker";

extern "C" OMBRIX_EXPORT void* GetOmbrixBundle() {
  gTimesAsked.fetch_add(1);
  return gBundle.load();
}

extern "C" OMBRIX_EXPORT void OmbrixBroker_SetBundle(void* bundle) { gBundle.store(bundle); }

extern "C" OMBRIX_EXPORT int32_t OmbrixBroker_TimesAsked() { return gTimesAsked.load(); }
