#include "qel/SafeInteger.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "qel/NumericCast.h"

namespace vo::qel {
namespace {

using exception::OutOfRange;

enum Op { kAdd, kMultiply, kDouble };

// The file an OutOfRange from `run` names; "" when nothing was thrown.
std::string Thrown(const std::function<void()>& run) {
  try {
    run();
  } catch (const OutOfRange& e) {
    return e.getFileName();
  }
  return "";
}

template <class T>
struct Case {
  const char* name;
  Op op;
  T a, b;
  bool overflow;
  T result;  // the value after the operation; `a` itself when it overflowed
};

// Every form must agree: the no-throw ones flag the overflow, the throwing and static
// ones throw exactly then, and an overflow leaves the value as it was.
template <class T>
void RunCases(const std::vector<Case<T>>& cases) {
  using I = SafeInteger<T>;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    I value(c.a), thrown(c.a), made(c.a);
    bool overflow = !c.overflow, staticOverflow = !c.overflow;
    const std::string threw = Thrown([&] {
      if (c.op == kAdd) value.addNoThrow(c.b, overflow), thrown.add(c.b);
      if (c.op == kMultiply) value.multiplyNoThrow(c.b, overflow), thrown.multiply(c.b);
      if (c.op == kDouble) value.multiplyByTwoNoThrow(overflow), thrown.multiplyByTwo();
    });
    const std::string staticThrew = Thrown([&] {
      made = c.op == kAdd        ? I::Add(c.a, c.b)
             : c.op == kMultiply ? I::Multiply(c.a, c.b)
                                 : I::MultiplyByTwo(c.a);
    });
    EXPECT_EQ(c.overflow, overflow);
    EXPECT_EQ(c.overflow ? "SafeInteger" : "", threw);
    EXPECT_EQ(c.overflow ? "SafeInteger" : "", staticThrew);
    EXPECT_EQ((std::vector<T>{c.result, c.result, c.result}),
              (std::vector<T>{value.rawValue(), thrown.rawValue(), made.rawValue()}));
    if (c.op != kAdd) continue;
    const T sum = I::AddNoThrow(c.a, c.b, staticOverflow).rawValue();
    EXPECT_EQ(c.overflow, staticOverflow);
    EXPECT_TRUE(c.overflow || c.result == sum);
  }
}

TEST(SafeIntegerTest, ThirtyTwoBitEdges) {
  RunCases<unsigned int>({
      {"max_plus_one", kAdd, 0xFFFFFFFFu, 1, true, 0xFFFFFFFFu},
      {"halves", kAdd, 0x80000000u, 0x7FFFFFFFu, false, 0xFFFFFFFFu},
      {"square_of_2_16", kMultiply, 0x10000u, 0x10000u, true, 0x10000u},
      {"fits_exactly", kMultiply, 0xFFFFu, 0x10001u, false, 0xFFFFFFFFu},
      {"times_zero", kMultiply, 0xFFFFFFFFu, 0, false, 0},
      {"max_times_two", kMultiply, 0xFFFFFFFFu, 2, true, 0xFFFFFFFFu},
      {"double_below_high_bit", kDouble, 0x7FFFFFFFu, 0, false, 0xFFFFFFFEu},
      {"double_high_bit", kDouble, 0x80000000u, 0, true, 0x80000000u},
  });
}

TEST(SafeIntegerTest, SixtyFourBitEdges) {
  RunCases<unsigned long>({
      {"max_plus_one", kAdd, ~0ul, 1, true, ~0ul},
      {"past_32_bits", kAdd, 0xFFFFFFFFul, 1, false, 0x100000000ul},
      {"zero_times_max", kMultiply, 0, ~0ul, false, 0},  // a divisor of 0 either way
      {"max_times_zero", kMultiply, ~0ul, 0, false, 0},
      {"both_32_bit", kMultiply, 0xFFFFFFFFul, 0xFFFFFFFFul, false, 0xFFFFFFFE00000001ul},
      // One operand above 32 bits takes the division check: at exactly max / b the
      // product still fits, one more overflows.
      {"2_32_times_32_bit_max", kMultiply, 0x100000000ul, 0xFFFFFFFFul, false,
       0xFFFFFFFF00000000ul},
      {"exactly_max_over_b", kMultiply, 0x100000001ul, 0xFFFFFFFFul, false, ~0ul},
      {"one_past_max_over_b", kMultiply, 0x100000002ul, 0xFFFFFFFFul, true, 0x100000002ul},
      {"2_32_squared", kMultiply, 0x100000000ul, 0x100000000ul, true, 0x100000000ul},
      {"double_below_high_bit", kDouble, 0x7FFFFFFFFFFFFFFFul, 0, false, 0xFFFFFFFFFFFFFFFEul},
      {"double_high_bit", kDouble, 0x8000000000000000ul, 0, true, 0x8000000000000000ul},
      {"double_32_bit_high_bit", kDouble, 0x80000000ul, 0, false, 0x100000000ul},
  });
}

TEST(NumericCastTest, AcceptsExactlyTheTargetRange) {
  EXPECT_EQ(0xFFFFFFFFu, (NumericCast<unsigned int, unsigned long>(0xFFFFFFFFul)));
  EXPECT_THROW((NumericCast<unsigned int, unsigned long>(0x100000000ul)), OutOfRange);
  EXPECT_EQ(0x7FFFFFFF, (NumericCast<int, unsigned long>(0x7FFFFFFFul)));
  EXPECT_THROW((NumericCast<int, unsigned long>(0x80000000ul)), OutOfRange);
  EXPECT_EQ(INT32_MIN, (NumericCast<int, long>(-2147483648L)));
  EXPECT_EQ(INT32_MAX, (NumericCast<int, long>(2147483647L)));
  EXPECT_EQ("NumericCast", Thrown([] { NumericCast<int, long>(2147483648L); }));
}

}  // namespace
}  // namespace vo::qel
