// A long random sequence of operations on each string kind, mirrored on
// std::basic_string as the model: after every step the texts must agree, the
// invariants must hold (terminator in place, length within capacity, no failed-check
// report), and an operation must throw exactly when the model's does. Positions are
// drawn to land on, just past and far past the end as often as inside.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "qel/StringBase.h"
#include "tests/support/StringText.h"

namespace vo::qel {
namespace {

template <typename S>
class StringModelTest : public ::testing::Test {};

using Kinds = ::testing::Types<String, ANSIString, ASCIIString, Utf8String>;
TYPED_TEST_SUITE(StringModelTest, Kinds);

template <typename S>
class Runner {
 public:
  using C = typename S::value_type;
  using P = typename S::size_type;
  using Model = std::basic_string<C>;
  static constexpr P npos = S::npos;

  void run(int steps) {
    for (int step = 0; step < steps && !::testing::Test::HasFailure(); ++step) {
      // Long texts are cut back now and then, so that positions keep meeting the end.
      if (model_.size() > 120) {
        string_.erase(P(random_() % 40), npos, S::KeepCapacity);
        model_.erase(string_.length());
      }
      const int op = int(random_() % 22);
      SCOPED_TRACE(::testing::Message()
                   << "step " << step << ", op " << op << ", text length " << model_.size());
      perform(op);
      expectSame();
    }
  }

 private:
  C element() {
    // Few letters, so that searches find things; 0 elements among them.
    static const char kAlphabet[] = {'a', 'b', 'c', 'A', '\0'};
    return C(static_cast<unsigned char>(kAlphabet[random_() % sizeof(kAlphabet)]));
  }

  Model text(size_t maxLength) {
    Model t;
    for (size_t n = random_() % (maxLength + 1); n > 0; --n) t.push_back(element());
    return t;
  }

  // A position in a text of `size`: at the end, just past it, npos, or inside.
  P position(size_t size) {
    const P bounds[] = {P(size), P(size + 1), npos};
    const unsigned pick = random_() % 6;
    return pick < 3 ? bounds[pick] : P(random_() % (size + 1));
  }

  // A count: npos, running past the end, or small.
  P count() {
    const unsigned pick = random_() % 4;
    return pick == 0 ? npos : P(random_() % (pick == 1 ? 200 : 5));
  }

  // A position or count for the model, and a position it answered for the string.
  static size_t M(P pos) { return pos == npos ? Model::npos : pos; }
  static P result(size_t pos) { return pos == Model::npos ? npos : P(pos); }

  // Runs one operation on both sides; an exception must come from both or neither
  // (the model's comes before it changes anything). True when it went through.
  template <typename Ours, typename Theirs>
  bool both(Ours ours, Theirs theirs) {
    bool modelThrew = false;
    try {
      theirs();
    } catch (const std::out_of_range&) {
      modelThrew = true;
    }
    EXPECT_EQ(modelThrew ? "offset" : "", testing::Thrown(ours));
    return !modelThrew;
  }

  void perform(int op) {
    const size_t size = model_.size();
    // Searches take short texts, so that they find something now and then.
    const Model t = text(op >= 16 && op <= 19 ? 3 : 6);
    const S other(t.data(), P(t.size()));
    const P pos = position(size), n = count(), tpos = position(t.size()), tn = count();
    const C ch = element();
    const auto strategy = (random_() & 1) ? S::ReleaseUnused : S::KeepCapacity;
    switch (op) {
      case 0:
        both([&] { string_.append(t.data(), P(t.size())); }, [&] { model_.append(t); });
        break;
      case 1:
        both([&] { string_.append(other, tpos, tn); }, [&] { model_.append(t, M(tpos), M(tn)); });
        break;
      case 2:
        both([&] { string_.append(string_, pos, n); },
             [&] { model_.append(Model(model_), M(pos), M(n)); });
        break;
      case 3:
        both([&] { string_.append(n % 4, ch); }, [&] { model_.append(n % 4, ch); });
        break;
      case 4:
        both([&] { string_ += ch; }, [&] { model_ += ch; });
        break;
      case 5: {  // a zero-terminated text, which ends at its first 0 element
        const Model z = t + C(0);
        both([&] { string_ += z.data(); }, [&] { model_ += z.substr(0, z.find(C(0))); });
        break;
      }
      case 6:
        both([&] { string_.assign(t.data(), P(t.size())); }, [&] { model_ = t; });
        break;
      case 7:
        if (both([&] { string_.erase(pos, n, strategy); }, [&] { model_.erase(M(pos), M(n)); }) &&
            strategy == S::ReleaseUnused) {
          EXPECT_LE(string_.capacity(), 2 * string_.length()) << "unused memory was kept";
        }
        break;
      case 8: {
        const size_t first = random_() % (size + 1);
        const size_t last = first + random_() % (size - first + 1);
        C* next = nullptr;
        both([&] { next = string_.erase(string_.begin() + first, string_.begin() + last); },
             [&] { model_.erase(first, last - first); });
        EXPECT_EQ(string_.begin() + first, next);
        break;
      }
      case 9: {
        const P capacity = string_.capacity();
        both([&] { string_.clear(strategy); }, [&] { model_.clear(); });
        EXPECT_EQ(strategy == S::ReleaseUnused ? 0u : capacity, string_.capacity());
        break;
      }
      case 10: {
        const P length = P(random_() % (size + 6));
        both([&] { string_.resize(length, ch); }, [&] { model_.resize(length, ch); });
        break;
      }
      case 11:
      case 12:
        both([&] { string_.replace(pos, n, other, tpos, tn); },
             [&] { model_.replace(M(pos), M(n), t, M(tpos), M(tn)); });
        break;
      case 13: {
        const P subpos = position(size);
        both([&] { string_.replace(pos, n, string_, subpos, tn); },
             [&] { model_.replace(M(pos), M(n), Model(model_), M(subpos), M(tn)); });
        break;
      }
      case 14: {
        // substr past the end is a caller error (reported), so only valid positions.
        const P at = P(random_() % (size + 1));
        if (n != npos && uint64_t(at) + n > 0xFFFFFFFFu) break;
        const S part = string_.substr(at, n);
        EXPECT_EQ(model_.substr(at, M(n)), Model(part.begin(), part.end()));
        EXPECT_EQ(part.length(), part.capacity());
        break;
      }
      case 15: {
        std::vector<C> ours(size + 1, C('#')), theirs(size + 1, C('#'));
        P copied = 0;
        size_t expected = 0;
        both([&] { copied = string_.copy(ours.data(), n, pos); },
             [&] { expected = model_.copy(theirs.data(), M(n), M(pos)); });
        EXPECT_EQ(expected, copied);
        EXPECT_EQ(theirs, ours);
        break;
      }
      case 16:
        EXPECT_EQ(result(model_.find(ch, M(pos))), string_.find(ch, pos));
        EXPECT_EQ(result(model_.rfind(ch, M(pos))), string_.rfind(ch, pos));
        EXPECT_EQ(result(model_.find_last_of(ch, M(pos))), string_.find_last_of(ch, pos));
        EXPECT_EQ(result(model_.find_last_not_of(ch, M(pos))), string_.find_last_not_of(ch, pos));
        break;
      case 17:
      case 18:
        // One difference from the standard: at or past the end, even the empty
        // string is not found.
        EXPECT_EQ(pos >= size ? npos : result(model_.find(t, M(pos))), string_.find(other, pos));
        EXPECT_EQ(result(model_.rfind(t, M(pos))), string_.rfind(other, pos));
        break;
      case 19:
        EXPECT_EQ(result(model_.find_first_of(t, M(pos))), string_.find_first_of(other, pos));
        EXPECT_EQ(result(model_.find_first_not_of(t, M(pos))),
                  string_.find_first_not_of(other, pos));
        EXPECT_EQ(result(model_.find_last_of(t, M(pos))), string_.find_last_of(other, pos));
        EXPECT_EQ(result(model_.find_last_not_of(t, M(pos))), string_.find_last_not_of(other, pos));
        break;
      case 20:
        string_.reserve(P(random_() % 300));
        break;
      case 21: {
        S swapped = other;
        string_.swap(swapped);
        EXPECT_EQ(model_, Model(swapped.begin(), swapped.end()));
        model_ = t;
        break;
      }
    }
  }

  void expectSame() {
    ASSERT_EQ(model_, Model(string_.begin(), string_.end()));
    ASSERT_EQ(model_.size(), string_.length());
    ASSERT_LE(string_.length(), string_.capacity());
    ASSERT_EQ(C(0), string_.c_str()[string_.length()]);
    ASSERT_EQ(model_.find(C(0)) != Model::npos, string_.hasEmbeddedNull());
    ASSERT_EQ(std::vector<std::string>{}, reports_.take());
  }

  std::mt19937 random_{20240611};
  S string_;
  Model model_;
  testing::Reports reports_;
};

TYPED_TEST(StringModelTest, RandomOperationsMatchTheStandardString) {
  Runner<TypeParam>().run(4000);
}

}  // namespace
}  // namespace vo::qel
