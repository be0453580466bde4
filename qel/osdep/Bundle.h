// Bundles: the loaded modules of the process, seen the way the host's run-time glue
// expects to see them. A bundle is a loaded shared object (or the main program); a
// bundle reference is the handle `dlopen` returns for it. A module names itself by
// exporting the zero-terminated character array `OmbrixBundleIdentifier`
// (`extern const char OmbrixBundleIdentifier[] = "com.example";`); a module without
// it has no identifier. A main program that names itself must export its symbols
// (`-rdynamic`).
//
// Thread-safe. A bundle reference is not retained: it stays valid only while whoever
// loaded the module keeps it loaded.
//
// Invariants:
// 1. Every name looked up in a bundle (identifier and functions alike) is accepted
//    only when that module itself defines it. `dlsym` on a handle also searches the
//    module's dependencies (and, for the main program, every global module); such a
//    symbol is treated as absent, so a lookup never reaches into another bundle.
// 2. The bundle list follows the dynamic loader's order, main program first; the
//    vdso and modules without a path are left out.
#ifndef QEL_OSDEP_BUNDLE_H_
#define QEL_OSDEP_BUNDLE_H_

#include <cstddef>
#include <vector>

namespace vo::qel::osdep {

struct BundleObject;
using BundleRef = BundleObject*;

// The symbol a module exports to declare its identifier.
constexpr const char kBundleIdentifierSymbol[] = "OmbrixBundleIdentifier";

inline BundleRef BundleFromHandle(void* dlopenHandle) noexcept {
  return static_cast<BundleRef>(dlopenHandle);
}
inline void* HandleFromBundle(BundleRef bundle) noexcept { return bundle; }

// Every loaded bundle, main program first. Empty when the list cannot be had.
std::vector<BundleRef> GetAllBundles() noexcept;

// The first loaded bundle whose own identifier equals `identifier` (case-sensitive),
// or null.
BundleRef GetBundleWithIdentifier(const char* identifier) noexcept;

// The bundle's own identifier, or null when it has none. The text belongs to the
// module. REQUIRES: `bundle` is not null.
const char* GetBundleIdentifier(BundleRef bundle) noexcept;

// The address of the function `name` defined by the bundle itself, or null.
// REQUIRES: `bundle` is not null.
void* GetFunctionPointerForName(BundleRef bundle, const char* name) noexcept;

// Room for a description line: a path of PATH_MAX bytes and an identifier.
constexpr size_t kBundleDescriptionSize = 4096 + 256;

// The line that describes the bundle, "Bundle <path> (identifier)" and a line feed,
// written into `line` (cut to fit `size`, always terminated). Looking a bundle up
// takes the dynamic loader's lock; callers that print under a lock of their own
// describe first and print afterwards.
void DescribeBundle(BundleRef bundle, char* line, size_t size) noexcept;

// Writes the bundle's description line to standard error.
void ShowBundle(BundleRef bundle) noexcept;

}  // namespace vo::qel::osdep

#endif  // QEL_OSDEP_BUNDLE_H_
