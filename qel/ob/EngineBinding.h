// The binding to the host's run-time engine: the library's own entries for the
// engine's services (NumericArrayResize, DSDisposeHandle, GGetOneErrorCode), which
// find the engine's loaded bundle at run time, resolve the real function on first use
// and forward every call to it. Library code calls the services through the C
// declarations in lorvath.h; this header adds what C++ code and tests need beside them.
//
// Thread-safe: the cached bundle, the initialised flag and the resolved functions are
// atomics; any thread may make the first call of a function.
//
// Invariants:
// 1. A forwarded call never continues into a null address: an unresolvable function
//    gives the alert and a failure result instead.
// 2. The resolved functions belong to one engine: announcing another engine, or
//    withdrawing it, forgets them all.
// 3. A name is resolved only where the engine's module defines it itself, and never
//    to this library's own entries.
// 4. Only null or the handle of a module loaded at that moment is taken as an
//    announced engine; any other pointer is reported and taken as a withdrawal.
// 5. Each exported entry is one try/catch wall: an exception (of an engine function,
//    say) becomes the entry's failure result, and a thread's cancellation unwinds on.
#ifndef QEL_OB_ENGINEBINDING_H_
#define QEL_OB_ENGINEBINDING_H_

#include "lorvath.h"

namespace vo::qel::ob {

// Identifiers of the host's bundles (the string each exports as
// OmbrixBundleIdentifier).
constexpr char kBundleBrokerIdentifier[] = "com.ombrix.bundlebroker";
constexpr char kDevelopmentHostIdentifier[] = "com.ombrix.hsx";
constexpr char kRunTimeEngineIdentifier[] = "com.ombrix.runtime";

// The broker's function: answers the engine's bundle (a dlopen handle) or null.
constexpr char kGetOmbrixBundleName[] = "GetOmbrixBundle";
using GetOmbrixBundleFunction = void* (*)();

// The engine's functions have the signatures of the library's entries.
using NumericArrayResizeFunction = decltype(&::NumericArrayResize);
using DSDisposeHandleFunction = decltype(&::DSDisposeHandle);
using GGetOneErrorCodeFunction = decltype(&::GGetOneErrorCode);

// Title of the alert shown when an engine function cannot be had.
constexpr char kEngineAlertTitle[] = "Library Calling a Ombrix Function";

}  // namespace vo::qel::ob

#endif  // QEL_OB_ENGINEBINDING_H_
