#include "qel/osdep/Bundle.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/auxv.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "qel/osdep/ExePath.h"

namespace vo::qel::osdep {
namespace {

struct LoadedObject {
  std::string path;
  bool skip;
};

struct IterationState {
  std::vector<LoadedObject>* objects;
  uintptr_t vdsoHeader;
  bool failed;
};

// The vdso is the object whose ELF header the kernel announced in the auxiliary
// vector; its program headers lie right behind that header.
bool IsVdso(const dl_phdr_info* info, uintptr_t vdsoHeader) {
  if (vdsoHeader == 0) return false;
  const auto* header = reinterpret_cast<const ElfW(Ehdr)*>(vdsoHeader);
  return reinterpret_cast<uintptr_t>(info->dlpi_phdr) == vdsoHeader + header->e_phoff;
}

int CollectObject(dl_phdr_info* info, size_t, void* data) {
  auto* state = static_cast<IterationState*>(data);
  try {
    const bool isMain = state->objects->empty();
    const char* name = info->dlpi_name != nullptr ? info->dlpi_name : "";
    const bool skip = !isMain && (name[0] == '\0' || IsVdso(info, state->vdsoHeader));
    state->objects->push_back({name, skip});
  } catch (const std::bad_alloc&) {
    state->failed = true;
    return 1;
  }
  return 0;
}

link_map* MapOf(BundleRef bundle) {
  link_map* map = nullptr;
  if (::dlinfo(HandleFromBundle(bundle), RTLD_DI_LINKMAP, &map) != 0) return nullptr;
  return map;
}

// `name` as found through the bundle's handle, provided the bundle defines it itself.
void* OwnSymbol(BundleRef bundle, const char* name) {
  link_map* const own = MapOf(bundle);
  if (own == nullptr || name == nullptr) return nullptr;
  void* const address = ::dlsym(HandleFromBundle(bundle), name);
  if (address == nullptr) return nullptr;
  Dl_info info;
  link_map* definer = nullptr;
  if (::dladdr1(address, &info, reinterpret_cast<void**>(&definer), RTLD_DL_LINKMAP) == 0) {
    return nullptr;
  }
  return definer == own ? address : nullptr;
}

}  // namespace

std::vector<BundleRef> GetAllBundles() noexcept {
  std::vector<BundleRef> bundles;
  try {
    // The loader's lock is held while the callback runs, so the objects are only
    // listed there; their handles are taken afterwards.
    std::vector<LoadedObject> objects;
    IterationState state{&objects, ::getauxval(AT_SYSINFO_EHDR), false};
    ::dl_iterate_phdr(CollectObject, &state);
    if (state.failed) return {};

    bundles.reserve(objects.size());
    for (size_t i = 0; i < objects.size(); ++i) {
      if (objects[i].skip) continue;
      // RTLD_NOLOAD finds the object only if it is still loaded; the reference it
      // adds is given back at once, as bundle references are not retained.
      void* const handle = i == 0 ? ::dlopen(nullptr, RTLD_LAZY)
                                  : ::dlopen(objects[i].path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
      if (handle == nullptr) continue;
      ::dlclose(handle);
      bundles.push_back(BundleFromHandle(handle));
    }
  } catch (const std::bad_alloc&) {
    return {};
  }
  return bundles;
}

BundleRef GetBundleWithIdentifier(const char* identifier) noexcept {
  if (identifier == nullptr) return nullptr;
  for (BundleRef bundle : GetAllBundles()) {
    const char* const own = GetBundleIdentifier(bundle);
    if (own != nullptr && std::strcmp(own, identifier) == 0) return bundle;
  }
  return nullptr;
}

const char* GetBundleIdentifier(BundleRef bundle) noexcept {
  return static_cast<const char*>(OwnSymbol(bundle, kBundleIdentifierSymbol));
}

void* GetFunctionPointerForName(BundleRef bundle, const char* name) noexcept {
  return OwnSymbol(bundle, name);
}

void DescribeBundle(BundleRef bundle, char* line, size_t size) noexcept {
  if (line == nullptr || size == 0) return;
  const char* path = "null";
  const char* identifier = nullptr;
  char exe[4096];
  if (bundle != nullptr) {
    link_map* const map = MapOf(bundle);
    path = map != nullptr && map->l_name != nullptr ? map->l_name : "";
    if (path[0] == '\0') {
      const size_t length = ReadExePath(exe, sizeof(exe));
      path = (length == 0 || length >= sizeof(exe)) ? "{unknown}" : exe;
    }
    identifier = GetBundleIdentifier(bundle);
  }
  std::snprintf(line, size, "Bundle <%s> (%s)\n", path,
                identifier != nullptr ? identifier : "no identifier");
}

void ShowBundle(BundleRef bundle) noexcept {
  char line[kBundleDescriptionSize];
  DescribeBundle(bundle, line, sizeof(line));
  std::fputs(line, stderr);
}

}  // namespace vo::qel::osdep
