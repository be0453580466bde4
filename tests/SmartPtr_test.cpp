#include "qel/SmartPtr.h"

#include <gtest/gtest.h>

#include <cstdlib>
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
static_assert(!std::is_copy_assignable<DismissableArray<char>>::value, "nor assigned");
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

TEST(SmartPtrTest, ReleasesWhatItOwnsOnceOnEveryPathUnlessDismissed) {
  const wchar_t* owned = nullptr;
  const wchar_t* unwound = nullptr;
  wchar_t* mine = nullptr;
  try {
    Logged none(nullptr);
    EXPECT_TRUE(!none);
    Logged some(new wchar_t[4]);
    owned = some.get();
    Logged dismissed(new wchar_t[3]{L'a', L'b', 0});
    const wchar_t* held = dismissed.get();
    mine = dismissed.dismiss();
    EXPECT_EQ(held, mine);
    EXPECT_TRUE(!dismissed);
    EXPECT_EQ(nullptr, dismissed.dismiss());
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
  const auto make = [](char*& out) { out = std::strcpy(new char[4], "txt"); };
  Array<char> text;
  make(text.getRef());
  EXPECT_STREQ("txt", text.get());
  DismissableArray<char> other;
  make(other.getRef());
  delete[] other.dismiss();
  DismissableArray<wchar_t> wide(new wchar_t[8]);
  MallocedChars c(strdup("from the C library"));
  EXPECT_STREQ("from the C library", c.get());
  const MallocedChars none(nullptr);
}

}  // namespace
}  // namespace vo::qel
