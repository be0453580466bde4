#include "qel/SmartPtr.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <type_traits>
#include <vector>

namespace vo::qel {
namespace {

// The instantiations the library uses.
template <class T, class Storage = ArraySPStoragePolicy<T>>
using Array = SmartPtr<T, NoncopyableSPCopyPolicy<T>, ArraySPReleasePolicy<T>, Storage>;
template <class T>
using DismissableArray = Array<T, DismissableSPStoragePolicy<T, ArraySPStoragePolicy<T>>>;
using MallocedChars = SmartPtr<char, NoncopyableSPCopyPolicy<char>, FreeingSPReleasePolicy,
                               PointerSPStoragePolicy<char>>;

static_assert(!std::is_copy_constructible<Array<wchar_t>>::value, "adopting owners are not copied");
static_assert(!std::is_convertible<char*, MallocedChars>::value,
              "a raw pointer never becomes an owner by accident");

// Releases arrays like ArraySPReleasePolicy and logs what it released.
std::vector<const void*> g_released;
struct LoggingRelease {
  template <class T>
  static void release(T* p) noexcept {
    if (p == nullptr) return;
    g_released.push_back(p);
    delete[] p;
  }
};
using Logged = SmartPtr<wchar_t, NoncopyableSPCopyPolicy<wchar_t>, LoggingRelease,
                        DismissableSPStoragePolicy<wchar_t, ArraySPStoragePolicy<wchar_t>>>;

// Owners release once on scope exit and on unwinding; a dismissed one hands its array over.
TEST(SmartPtrTest, ReleasesWhatItOwnsOnceOnEveryPathUnlessDismissed) {
  const wchar_t *owned = nullptr, *unwound = nullptr;
  wchar_t* mine = nullptr;
  try {
    Logged none(nullptr), some(new wchar_t[4]), dismissed(new wchar_t[3]{L'a', L'b', 0});
    owned = some.get();
    mine = dismissed.dismiss();
    Logged p(new wchar_t[2]);
    unwound = p.get();
    throw std::runtime_error("unwind");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ((std::vector<const void*>{unwound, owned}), g_released);
  EXPECT_STREQ(L"ab", mine);
  delete[] mine;
}

// getRef lets a call that hands back new memory through a pointer reference fill the
// owner directly. Under AddressSanitizer a release that does not match the allocation
// (delete[] for malloc, free for new[]) or a missing one fails the run.
TEST(SmartPtrTest, RealPoliciesMatchTheirAllocators) {
  Array<char> text;
  text.getRef() = std::strcpy(new char[4], "txt");
  EXPECT_STREQ("txt", text.get());
  DismissableArray<wchar_t> wide(new wchar_t[8]);
  MallocedChars c(strdup("from the C library"));
}

}  // namespace
}  // namespace vo::qel
