#include "qel/Vector.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "qel/StringBase.h"
#include "qel/exception/Exception.h"
#include "tests/support/AlertRecorder.h"

namespace vo::qel {
namespace {

// An element that counts the live copies and can be told to throw from its n-th copy.
struct Tracked {
  static inline int live = 0;
  static inline int copiesUntilThrow = -1;  // negative: never

  explicit Tracked(int i = 0) : id(i) { ++live; }
  Tracked(const Tracked& that) : id(that.id) {
    if (copiesUntilThrow >= 0 && copiesUntilThrow-- == 0) throw std::runtime_error("copy");
    ++live;
  }
  Tracked& operator=(const Tracked&) = default;
  ~Tracked() { --live; }
  int id;
};

// The block moves exactly when it was full, and capacities run 1, 3, 7, ... Pushing the
// vector's own element while the block moves copies it before the old block goes, and
// copies and moves own their elements: under AddressSanitizer a shared block fails the run.
TEST(VectorTest, GrowthSelfPushAndCopies) {
  const String first(L"/tmp/a");
  Vector<String> v;
  for (unsigned i = 0; i < 100; ++i) {
    const String* block = v.begin();
    const unsigned capacity = v.capacity();
    v.push_back(i == 0 ? first : v[i - 1]);
    EXPECT_EQ(i == capacity ? 2 * i + 1 : capacity, v.capacity()) << i;
    EXPECT_EQ(i == capacity, v.begin() != block) << i;
  }
  for (const String& s : v) EXPECT_STREQ(L"/tmp/a", s.c_str());
  Vector<String> copy(v), moved(std::move(v));
  copy[0] = L"other";
  EXPECT_EQ(100u, moved.size());
  EXPECT_STREQ(L"/tmp/a", moved[0].c_str());
}

// A copy that throws while the vector grows (a new block and four copies) or while it
// appends in place (one copy) leaves the vector exactly as it was, with no copy left alive.
TEST(VectorTest, FailedPushLeavesVectorUnchanged) {
  const struct { int size, failingCopy; } cases[] = {{3, 0}, {3, 2}, {3, 3}, {2, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE("size " + std::to_string(c.size) + ", copy " + std::to_string(c.failingCopy));
    Vector<Tracked> v;
    for (int i = 0; i < c.size; ++i) v.push_back(Tracked(i));
    const Tracked* block = v.begin();
    const Tracked extra(9);
    const int live = Tracked::live;
    Tracked::copiesUntilThrow = c.failingCopy;
    EXPECT_THROW(v.push_back(extra), std::runtime_error);
    Tracked::copiesUntilThrow = -1;
    EXPECT_EQ(live, Tracked::live);
    EXPECT_EQ(block, v.begin());
    ASSERT_EQ(unsigned(c.size), v.size());
    for (int i = 0; i < c.size; ++i) EXPECT_EQ(i, v[unsigned(i)].id);
  }
  EXPECT_EQ(0, Tracked::live);  // the vectors destroyed their elements
}

// A bad index is reported and gives an element outside the block; 0x10000000 strings
// take more than 4 GiB, which is refused before anything is allocated.
TEST(VectorTest, BadIndexAndSizesBeyond32BitsAreRefused) {
  Vector<int> v;
  v.push_back(1);
  v.push_back(2);
  testing::AlertRecorder alerts;
  for (unsigned index : {2u, 0xFFFFFFFFu}) {
    const int* element = &v[index];
    EXPECT_TRUE(element < v.begin() || element >= v.begin() + v.capacity()) << index;
  }
  EXPECT_EQ(2, v[1]);
  EXPECT_EQ(std::vector<std::string>(2, "Vector(770) (impl_.begin_ + index) < impl_.end_ | "),
            alerts.take());
  EXPECT_THROW(Vector<String>::Impl(SafeInteger<unsigned int>(0x10000000)), exception::OutOfRange);
}

}  // namespace
}  // namespace vo::qel
