#include "qel/SmartPtr.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <type_traits>
#include <vector>

namespace vo {
namespace qel {
namespace {

// The instantiations the library uses.
using WideArray = SmartPtr<wchar_t, NoncopyableSPCopyPolicy<wchar_t>, ArraySPReleasePolicy<wchar_t>,
                           ArraySPStoragePolicy<wchar_t>>;
using DismissableWideArray =
    SmartPtr<wchar_t, NoncopyableSPCopyPolicy<wchar_t>, ArraySPReleasePolicy<wchar_t>,
             DismissableSPStoragePolicy<wchar_t, ArraySPStoragePolicy<wchar_t>>>;
using CharArray = SmartPtr<char, NoncopyableSPCopyPolicy<char>, ArraySPReleasePolicy<char>,
                           ArraySPStoragePolicy<char>>;
using DismissableCharArray =
    SmartPtr<char, NoncopyableSPCopyPolicy<char>, ArraySPReleasePolicy<char>,
             DismissableSPStoragePolicy<char, ArraySPStoragePolicy<char>>>;
using MallocedChars = SmartPtr<char, NoncopyableSPCopyPolicy<char>, FreeingSPReleasePolicy,
                               PointerSPStoragePolicy<char>>;

static_assert(!std::is_copy_constructible<WideArray>::value, "adopting owners are not copied");
static_assert(!std::is_copy_assignable<DismissableWideArray>::value, "nor assigned");
static_assert(!std::is_copy_constructible<CharArray>::value, "");
static_assert(!std::is_copy_constructible<DismissableCharArray>::value, "");
static_assert(!std::is_copy_constructible<MallocedChars>::value, "");
static_assert(!std::is_convertible<wchar_t*, WideArray>::value,
              "a raw pointer never becomes an owner by accident");

// Releases arrays like ArraySPReleasePolicy and logs what it released.
struct LoggingRelease {
  static std::vector<const void*> released;
  template <class T>
  static void release(T* p) noexcept {
    if (p == nullptr) return;
    released.push_back(p);
    delete[] p;
  }
};
std::vector<const void*> LoggingRelease::released;

using Logged = SmartPtr<wchar_t, NoncopyableSPCopyPolicy<wchar_t>, LoggingRelease,
                        DismissableSPStoragePolicy<wchar_t, ArraySPStoragePolicy<wchar_t>>>;

class SmartPtrTest : public ::testing::Test {
 protected:
  void SetUp() override { LoggingRelease::released.clear(); }
};

TEST_F(SmartPtrTest, ReleasesWhatItOwnsOnceAndNullNever) {
  const wchar_t* owned = nullptr;
  {
    Logged none(nullptr);
    EXPECT_TRUE(!none);
    Logged some(new wchar_t[4]);
    owned = some.get();
    EXPECT_FALSE(!some);
  }
  EXPECT_EQ(std::vector<const void*>{owned}, LoggingRelease::released);
}

TEST_F(SmartPtrTest, ReleasesWhenAnExceptionUnwinds) {
  const wchar_t* owned = nullptr;
  try {
    Logged p(new wchar_t[2]);
    owned = p.get();
    throw std::runtime_error("unwind");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(std::vector<const void*>{owned}, LoggingRelease::released);
}

TEST_F(SmartPtrTest, DismissHandsTheMemoryToTheCaller) {
  wchar_t* mine = nullptr;
  {
    Logged p(new wchar_t[3]{L'a', L'b', 0});
    const wchar_t* held = p.get();
    mine = p.dismiss();
    EXPECT_EQ(held, mine);
    EXPECT_TRUE(!p);
    EXPECT_EQ(nullptr, p.dismiss());
  }
  EXPECT_TRUE(LoggingRelease::released.empty());
  EXPECT_STREQ(L"ab", mine);
  delete[] mine;
}

// getRef lets a call that hands back new memory through a pointer reference fill
// the owner directly.
void MakeText(char*& out) {
  out = new char[4];
  std::strcpy(out, "txt");
}

TEST_F(SmartPtrTest, GetRefFillsTheOwner) {
  CharArray text;
  MakeText(text.getRef());
  EXPECT_STREQ("txt", text.get());
  DismissableCharArray other;
  MakeText(other.getRef());
  delete[] other.dismiss();
}

// The real policies: under AddressSanitizer a release that does not match the
// allocation (delete[] for malloc, free for new[]) or a missing one fails the run.
TEST_F(SmartPtrTest, ReleasePoliciesMatchTheirAllocators) {
  { WideArray w(new wchar_t[8]); }
  { DismissableWideArray w(new wchar_t[8]); }
  {
    MallocedChars c(strdup("from the C library"));
    EXPECT_STREQ("from the C library", c.get());
  }
  {
    MallocedChars none(nullptr);
    EXPECT_TRUE(!none);
  }
}

}  // namespace
}  // namespace qel
}  // namespace vo
