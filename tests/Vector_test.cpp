#include "qel/Vector.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "qel/DLLAlloc.h"
#include "qel/StringBase.h"
#include "qel/exception/Exception.h"
#include "tests/support/AlertRecorder.h"

namespace vo {
namespace qel {
namespace {

using testing::AlertRecorder;

// An element that counts the live copies, logs destruction, and can be told to
// throw from its n-th copy.
struct Tracked {
  static int live;
  static int copiesUntilThrow;  // negative: never
  static std::vector<int>* destroyed;

  explicit Tracked(int i = 0) : id(i) { ++live; }
  Tracked(const Tracked& that) : id(that.id) {
    if (copiesUntilThrow >= 0 && copiesUntilThrow-- == 0) throw std::runtime_error("copy");
    ++live;
  }
  Tracked& operator=(const Tracked&) = default;
  ~Tracked() {
    --live;
    if (destroyed != nullptr) destroyed->push_back(id);
  }
  int id;
};
int Tracked::live = 0;
int Tracked::copiesUntilThrow = -1;
std::vector<int>* Tracked::destroyed = nullptr;

std::vector<int> Ids(const Vector<Tracked>& v) {
  std::vector<int> ids;
  for (const Tracked& t : v) ids.push_back(t.id);
  return ids;
}

// The lines of the failed-check reports written while `f` runs.
template <class F>
std::string Reports(F f) {
  AlertRecorder alerts;
  ::testing::internal::CaptureStderr();
  f();
  return ::testing::internal::GetCapturedStderr();
}

TEST(VectorTest, NewVectorOwnsNothing) {
  const Vector<String> v;
  EXPECT_EQ(0u, v.size());
  EXPECT_EQ(0u, v.capacity());
  EXPECT_EQ(nullptr, v.begin());
  EXPECT_EQ(nullptr, v.end());
  EXPECT_EQ("", Reports([&] { v.checkInvariants(); }));
}

TEST(VectorTest, CapacityRunsZeroOneThreeSeven) {
  const struct {
    unsigned pushes;
    unsigned capacity;
  } cases[] = {{1, 1}, {2, 3}, {3, 3}, {4, 7}, {7, 7}, {8, 15}, {16, 31}, {32, 63}, {100, 127}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pushes);
    Vector<int> v;
    for (unsigned i = 0; i < c.pushes; ++i) {
      const int* block = v.begin();
      const bool full = v.size() == v.capacity();
      v.push_back(int(i));
      EXPECT_EQ(full, v.begin() != block) << "the block moves exactly when it was full";
    }
    EXPECT_EQ(c.pushes, v.size());
    EXPECT_EQ(c.capacity, v.capacity());
    for (unsigned i = 0; i < c.pushes; ++i) EXPECT_EQ(int(i), v[i]);
  }
}

TEST(VectorTest, StoresIndependentCopiesOfStrings) {
  Vector<String> v;
  String path(L"/tmp/a");
  v.push_back(path);
  path = L"/tmp/abc";
  v.push_back(path);
  path = L"changed";
  ASSERT_EQ(2u, v.size());
  EXPECT_STREQ(L"/tmp/a", v[0].c_str());
  EXPECT_STREQ(L"/tmp/abc", v[1].c_str());

  Vector<String> copy(v);
  copy[0] = L"other";
  EXPECT_STREQ(L"/tmp/a", v[0].c_str());
  Vector<String> assigned;
  assigned = v;
  EXPECT_EQ(2u, assigned.size());
  EXPECT_STREQ(L"/tmp/abc", assigned[1].c_str());

  Vector<String> moved(std::move(copy));
  EXPECT_EQ(0u, copy.size());  // NOLINT: a moved-from vector is empty
  EXPECT_EQ(nullptr, copy.begin());
  EXPECT_STREQ(L"other", moved[0].c_str());
}

TEST(VectorTest, DestroysElementsFirstToLast) {
  std::vector<int> destroyed;
  {
    Vector<Tracked> v;
    for (int i = 0; i < 4; ++i) v.push_back(Tracked(i));
    Tracked::destroyed = &destroyed;
  }
  Tracked::destroyed = nullptr;
  EXPECT_EQ((std::vector<int>{0, 1, 2, 3}), destroyed);
  EXPECT_EQ(0, Tracked::live);
}

// A copy that throws while the vector grows (or while it appends in place) leaves
// the vector exactly as it was, with no copy left alive.
TEST(VectorTest, ThrowingCopyLeavesVectorUnchanged) {
  for (int failingCopy = 0; failingCopy <= 3; ++failingCopy) {
    SCOPED_TRACE(failingCopy);
    Vector<Tracked> v;
    for (int i = 0; i < 3; ++i) v.push_back(Tracked(i));  // full: capacity 3
    const Tracked* block = v.begin();
    const int live = Tracked::live;
    Tracked::copiesUntilThrow = failingCopy;
    EXPECT_THROW(v.push_back(Tracked(9)), std::runtime_error);
    Tracked::copiesUntilThrow = -1;
    EXPECT_EQ(live, Tracked::live);
    EXPECT_EQ(block, v.begin());
    EXPECT_EQ(3u, v.capacity());
    EXPECT_EQ((std::vector<int>{0, 1, 2}), Ids(v));
  }
  Vector<Tracked> roomy;
  roomy.push_back(Tracked(0));
  roomy.push_back(Tracked(1));  // capacity 3, one free
  Tracked::copiesUntilThrow = 0;
  EXPECT_THROW(roomy.push_back(Tracked(2)), std::runtime_error);
  Tracked::copiesUntilThrow = -1;
  EXPECT_EQ((std::vector<int>{0, 1}), Ids(roomy));
}

TEST(VectorTest, AllocationFailureLeavesVectorUnchanged) {
  // Growing needs a new block; appending in place needs the string's own copy.
  for (unsigned kept : {1u, 2u}) {
    SCOPED_TRACE(kept);
    Vector<String> v;
    for (unsigned i = 0; i < kept; ++i) v.push_back(String(L"kept"));
    const String extra(L"extra");
    const unsigned capacity = v.capacity();
    const bool was = MakeDLLMallocThrow(true);
    EXPECT_THROW(v.push_back(extra), std::bad_alloc);
    MakeDLLMallocThrow(was);
    ASSERT_EQ(kept, v.size());
    EXPECT_EQ(capacity, v.capacity());
    EXPECT_STREQ(L"kept", v[0].c_str());
  }
}

TEST(VectorTest, AppendsItsOwnElementWhileGrowing) {
  Vector<String> v;
  v.push_back(String(L"first"));  // full
  v.push_back(v[0]);
  v.push_back(v[1]);  // full again at 3
  v.push_back(v[2]);
  ASSERT_EQ(4u, v.size());
  for (const String& s : v) EXPECT_STREQ(L"first", s.c_str());
}

TEST(VectorTest, IndexPastTheEndIsReportedAndTouchesNoElement) {
  Vector<int> v;
  v.push_back(1);
  v.push_back(2);
  for (unsigned index : {2u, 3u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(index);
    int* element = nullptr;
    EXPECT_EQ("Vector(770): Assertion failed: (impl_.begin_ + index) < impl_.end_\a\n",
              Reports([&] { element = &v[index]; }));
    EXPECT_TRUE(element < v.begin() || element >= v.begin() + v.capacity());
  }
  const Vector<int> empty;
  EXPECT_THAT(Reports([&] { (void)empty[0]; }), ::testing::HasSubstr("Vector(770)"));
  EXPECT_EQ("", Reports([&] { EXPECT_EQ(2, v[1]); }));
}

TEST(VectorTest, ImplRefusesSizesBeyond32Bits) {
  // 0x10000000 strings take more than 4 GiB: refused before anything is allocated.
  static_assert(sizeof(String) > 16, "the product must pass 32 bits");
  EXPECT_THROW(Vector<String>::Impl(SafeInteger<unsigned int>(0x10000000)), exception::OutOfRange);
}

TEST(VectorTest, ImplReportsCopiesBeyondItsBlock) {
  Vector<int>::Impl impl(2);
  const int values[] = {1, 2, 3};
  std::string reports = Reports([&] { impl.copyToEnd(values, values + 3); });
  EXPECT_EQ("Vector(566): Assertion failed: (end - begin) <= (endOfStorage_ - end_)\a\n", reports);
  EXPECT_EQ(2, impl.end_ - impl.begin_) << "only what fits is copied";
  reports = Reports([&] { impl.copyToEnd(values[2]); });
  EXPECT_EQ("Vector(548): Assertion failed: end_ < endOfStorage_\a\n", reports);
  EXPECT_EQ(impl.endOfStorage_, impl.end_);
}

TEST(VectorTest, BrokenInvariantsAreReported) {
  Vector<int>::Impl impl(4);
  int* const block = impl.begin_;
  const struct {
    const char* name;
    int* begin;
    int* end;
    int* endOfStorage;
    const char* report;
  } cases[] = {
      {"begin_after_end", block + 2, block + 1, block + 4,
       "Vector(602): Assertion failed: begin_ <= end_\a\n"},
      {"end_after_storage", block, block + 4 + 1, block + 4,
       "Vector(604): Assertion failed: end_ <= endOfStorage_\a\n"},
      {"partly_null", block, nullptr, nullptr,
       "Vector(606): Assertion failed: (begin_ && end_ && endOfStorage_) || (!begin_ && !end_ && "
       "!endOfStorage_)\a\n"},
      {"capacity_past_32_bits", block, block, block + 0x100000000,
       "Vector(608): Assertion failed: size_t(endOfStorage_ - begin_) <= UINT_MAX\a\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    impl.begin_ = c.begin;
    impl.end_ = c.end;
    impl.endOfStorage_ = c.endOfStorage;
    EXPECT_THAT(Reports([&] { impl.checkInvariants(); }), ::testing::HasSubstr(c.report));
  }
  impl.begin_ = impl.end_ = block;
  impl.endOfStorage_ = block + 4;
  EXPECT_EQ("", Reports([&] { impl.checkInvariants(); }));
}

}  // namespace
}  // namespace qel
}  // namespace vo
