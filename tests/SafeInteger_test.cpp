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

template <class T>
struct Case {
  const char* name;
  Op op;
  T a, b;
  bool overflow;
  T result;  // `a` itself when it overflowed
};

// Every form of an operation, members and static ones, flags or throws exactly
// on overflow, and one that flags it leaves the value as it was.
template <class T>
void RunCases(const std::vector<Case<T>>& cases) {
  using I = SafeInteger<T>;
  using Form = std::function<I(I, T, bool&)>;
  const std::vector<Form> forms[] = {
      {[](I a, T b, bool& o) { return a.addNoThrow(b, o), a; },
       [](I a, T b, bool& o) { return I::AddNoThrow(a, b, o); },
       [](I a, T b, bool&) { return a.add(b), a; }, [](I a, T b, bool&) { return I::Add(a, b); }},
      {[](I a, T b, bool& o) { return a.multiplyNoThrow(b, o), a; },
       [](I a, T b, bool&) { return a.multiply(b), a; },
       [](I a, T b, bool&) { return I::Multiply(a, b); }},
      {[](I a, T, bool& o) { return a.multiplyByTwoNoThrow(o), a; },
       [](I a, T, bool&) { return a.multiplyByTwo(), a; },
       [](I a, T, bool&) { return I::MultiplyByTwo(a); }},
  };
  for (const auto& c : cases) {
    for (const Form& form : forms[c.op]) {
      SCOPED_TRACE(std::string(c.name) + ", form " + std::to_string(&form - &forms[c.op][0]));
      bool overflow = false;
      T value = c.a;
      try {
        value = form(c.a, c.b, overflow).rawValue();
      } catch (const OutOfRange& e) {
        EXPECT_STREQ("SafeInteger", e.getFileName());
        overflow = true;
      }
      EXPECT_EQ(c.overflow, overflow);
      EXPECT_EQ(c.result, value);
    }
  }
}

TEST(SafeIntegerTest, EdgesOfBothWidths) {
  RunCases<unsigned int>({
      {"max_plus_one", kAdd, 0xFFFFFFFFu, 1, true, 0xFFFFFFFFu},
      {"halves", kAdd, 0x80000000u, 0x7FFFFFFFu, false, 0xFFFFFFFFu},
      {"square_of_2_16", kMultiply, 0x10000u, 0x10000u, true, 0x10000u},
      {"fits_exactly", kMultiply, 0xFFFFu, 0x10001u, false, 0xFFFFFFFFu},
      {"double_below_high_bit", kDouble, 0x7FFFFFFFu, 0, false, 0xFFFFFFFEu},
      {"double_high_bit", kDouble, 0x80000000u, 0, true, 0x80000000u},
  });
  RunCases<unsigned long>({
      {"max_plus_one", kAdd, ~0ul, 1, true, ~0ul},
      {"zero_times_max", kMultiply, 0, ~0ul, false, 0},  // a divisor of 0 either way
      {"max_times_zero", kMultiply, ~0ul, 0, false, 0},
      {"both_32_bit", kMultiply, 0xFFFFFFFFul, 0xFFFFFFFFul, false, 0xFFFFFFFE00000001ul},
      // One operand above 32 bits takes the division check: at exactly max / b
      // the product still fits, one more overflows.
      {"2_32_times_32_bit_max", kMultiply, 1ul << 32, 0xFFFFFFFFul, false, 0xFFFFFFFF00000000ul},
      {"exactly_max_over_b", kMultiply, 0x100000001ul, 0xFFFFFFFFul, false, ~0ul},
      {"one_past_max_over_b", kMultiply, 0x100000002ul, 0xFFFFFFFFul, true, 0x100000002ul},
      {"double_high_bit", kDouble, 1ul << 63, 0, true, 1ul << 63},
      {"double_32_bit_high_bit", kDouble, 0x80000000ul, 0, false, 1ul << 32},
  });
}

// Unsigned to signed is shown by the host-string writers, which cast their lengths.
TEST(NumericCastTest, AcceptsExactlyTheTargetRange) {
  EXPECT_EQ(0xFFFFFFFFu, (NumericCast<unsigned int, unsigned long>(0xFFFFFFFFul)));
  EXPECT_THROW((NumericCast<unsigned int, unsigned long>(0x100000000ul)), OutOfRange);
  EXPECT_EQ(INT32_MIN, (NumericCast<int, long>(-2147483648L)));
  EXPECT_THROW((NumericCast<int, long>(2147483648L)), OutOfRange);
}

}  // namespace
}  // namespace vo::qel
