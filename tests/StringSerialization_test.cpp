#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "qel/DLLAlloc.h"
#include "qel/StringBase.h"
#include "qel/exception/Exception.h"
#include "tests/support/AlertRecorder.h"

namespace vo {
namespace qel {
namespace {

using namespace std::string_literals;
using Bytes = std::vector<unsigned char>;

Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A copy of `bytes` in a heap block of exactly their size, so that AddressSanitizer
// sees any read past the end of the input.
class ExactInput {
 public:
  explicit ExactInput(const Bytes& bytes, size_t size)
      : block_(new unsigned char[size]), size_(size) {
    if (size != 0) std::memcpy(block_.get(), bytes.data(), size);
  }
  explicit ExactInput(const Bytes& bytes) : ExactInput(bytes, bytes.size()) {}
  const unsigned char* begin() const { return block_.get(); }
  const unsigned char* end() const { return block_.get() + size_; }

 private:
  std::unique_ptr<unsigned char[]> block_;
  size_t size_;
};

template <typename S>
S Make(const std::basic_string<typename S::value_type>& text) {
  return S(text.data(), static_cast<typename S::size_type>(text.size()));
}

template <typename S>
std::basic_string<typename S::value_type> Text(const S& s) {
  return std::basic_string<typename S::value_type>(s.begin(), s.end());
}

// The elements of an ASCII text in the element type of S.
template <typename S>
std::basic_string<typename S::value_type> T(const std::string& ascii) {
  return std::basic_string<typename S::value_type>(ascii.begin(), ascii.end());
}

// The serialized forms of each kind, and the inputs each must refuse.
template <typename S>
struct Forms {
  struct Row {
    const char* name;
    std::basic_string<typename S::value_type> text;
    Bytes bytes;
  };
  struct Rejected {
    const char* name;
    Bytes bytes;
    bool invalidSequence;  // else DeserializationError
  };
};

// Inputs every kind refuses: counts that claim more than is there, up to 2^32 - 1.
template <typename S>
std::vector<typename Forms<S>::Rejected> CommonRejected() {
  return {
      {"no_bytes", B(""), false},
      {"three_byte_prefix", B("\x01\x00\x00"s), false},
      {"prefix_one_over",
       B("\x05\x00\x00\x00"
         "abc\0"s),
       false},
      {"prefix_but_no_payload", B("\x01\x00\x00\x00"s), false},
      {"prefix_2_31",
       B("\x00\x00\x00\x80"
         "ab\0"s),
       false},
      {"prefix_2_32_minus_5",
       B("\xFB\xFF\xFF\xFF"
         "ab\0"s),
       false},
      {"prefix_2_32_minus_4",
       B("\xFC\xFF\xFF\xFF"
         "ab\0"s),
       false},
      {"prefix_2_32_minus_2",
       B("\xFE\xFF\xFF\xFF"
         "ab\0"s),
       false},
      {"prefix_2_32_minus_1",
       B("\xFF\xFF\xFF\xFF"
         "ab\0"s),
       false},
  };
}

template <typename S>
struct NarrowForms : Forms<S> {
  using typename Forms<S>::Row;
  using typename Forms<S>::Rejected;
  static std::vector<Row> Rows() {
    return {
        {"empty", T<S>(""), B("\x01\x00\x00\x00\x00"s)},
        {"abc", T<S>("abc"),
         B("\x04\x00\x00\x00"
           "abc\0"s)},
        {"embedded_zero_kept", T<S>("a\0b"s),
         B("\x04\x00\x00\x00"
           "a\0b\0"s)},
        {"only_zero", T<S>("\0"s), B("\x02\x00\x00\x00\x00\x00"s)},
        {"high_bytes", T<S>("\xFF\x80"), B("\x03\x00\x00\x00\xFF\x80\x00"s)},
        {"count_256", T<S>(std::string(255, 'x')),
         B("\x00\x01\x00\x00"s + std::string(255, 'x') + "\0"s)},
    };
  }
  static std::vector<Rejected> Refused() {
    auto rows = CommonRejected<S>();
    rows.push_back({"zero_count_has_no_terminator", B("\x00\x00\x00\x00"s), false});
    rows.push_back({"zero_count_then_zero", B("\x00\x00\x00\x00\x00"s), false});
    rows.push_back({"last_byte_not_zero",
                    B("\x03\x00\x00\x00"
                      "abc"s),
                    false});
    rows.push_back({"zero_only_past_payload",
                    B("\x03\x00\x00\x00"
                      "abc\0"s),
                    false});
    rows.push_back({"zero_not_last",
                    B("\x03\x00\x00\x00"
                      "a\0c"s),
                    false});
    return rows;
  }
};

template <typename S>
struct FormsOf;
template <>
struct FormsOf<ANSIString> : NarrowForms<ANSIString> {};
template <>
struct FormsOf<ASCIIString> : NarrowForms<ASCIIString> {};
template <>
struct FormsOf<Utf8String> : Forms<Utf8String> {
  static std::vector<Row> Rows() {
    return {
        {"empty", T<Utf8String>(""), B("\x00\x00\x00\x00"s)},
        {"abc", T<Utf8String>("abc"),
         B("\x03\x00\x00\x00"
           "abc"s)},
        {"embedded_zero_kept", T<Utf8String>("a\0b"s),
         B("\x03\x00\x00\x00"
           "a\0b"s)},
        {"trailing_zero_is_text", T<Utf8String>("a\0"s),
         B("\x02\x00\x00\x00"
           "a\0"s)},
        {"bytes_not_validated", T<Utf8String>("\xFF\xC0\x80"), B("\x03\x00\x00\x00\xFF\xC0\x80"s)},
        {"count_256", T<Utf8String>(std::string(256, 'x')),
         B("\x00\x01\x00\x00"s + std::string(256, 'x'))},
    };
  }
  static std::vector<Rejected> Refused() { return CommonRejected<Utf8String>(); }
};

template <>
struct FormsOf<String> : Forms<String> {
  static std::wstring W(wchar_t c) { return std::wstring(1, c); }
  static std::vector<Row> Rows() {
    return {
        {"empty", L"", B("\x00\x00\x00\x00"s)},
        {"abc", L"abc",
         B("\x03\x00\x00\x00"
           "abc"s)},
        {"embedded_zero_kept", L"a\0b"s,
         B("\x03\x00\x00\x00"
           "a\0b"s)},
        {"two_bytes", L"\u00e9", B("\x02\x00\x00\x00\xC3\xA9"s)},
        {"three_bytes_lowest", L"\u0800", B("\x03\x00\x00\x00\xE0\xA0\x80"s)},
        {"surrogate_as_any_value", W(0xD800), B("\x03\x00\x00\x00\xED\xA0\x80"s)},
        {"four_bytes_highest_unicode", W(0x10FFFF), B("\x04\x00\x00\x00\xF4\x8F\xBF\xBF"s)},
        {"five_bytes_lowest", W(0x200000), B("\x05\x00\x00\x00\xF8\x88\x80\x80\x80"s)},
        {"six_bytes_highest", W(0x7FFFFFFF), B("\x06\x00\x00\x00\xFD\xBF\xBF\xBF\xBF\xBF"s)},
        {"longer_than_stack_scratch", std::wstring(300, L'\u00e9'),
         B("\x58\x02\x00\x00"s +
           [] {
             std::string s;
             for (int i = 0; i < 300; ++i) s += "\xC3\xA9";
             return s;
           }())},
    };
  }
  static std::vector<Rejected> Refused() {
    auto rows = CommonRejected<String>();
    const std::vector<Rejected> invalid = {
        {"lone_continuation", B("\x01\x00\x00\x00\x80"s), true},
        {"lead_FF", B("\x01\x00\x00\x00\xFF"s), true},
        {"overlong_C0_80", B("\x02\x00\x00\x00\xC0\x80"s), true},
        {"overlong_E0_80_80", B("\x03\x00\x00\x00\xE0\x80\x80"s), true},
        {"overlong_FC_80", B("\x06\x00\x00\x00\xFC\x80\x80\x80\x80\x80"s), true},
        // The bytes that would complete the sequence lie past the count.
        {"sequence_cut_by_count", B("\x01\x00\x00\x00\xC3\xA9"s), true},
        {"six_byte_cut_by_count", B("\x05\x00\x00\x00\xFD\xBF\xBF\xBF\xBF\xBF"s), true},
        {"valid_then_invalid",
         B("\x03\x00\x00\x00"
           "ab\xFE"s),
         true},
    };
    rows.insert(rows.end(), invalid.begin(), invalid.end());
    return rows;
  }
};

template <typename S>
class StringSerializationTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_TRUE(alerts_.alerts().empty()) << "unexpected failed check"; }
  testing::AlertRecorder alerts_;
};

using Kinds = ::testing::Types<String, ANSIString, ASCIIString, Utf8String>;
TYPED_TEST_SUITE(StringSerializationTest, Kinds);

TYPED_TEST(StringSerializationTest, ExactBytesRoomAndTruncatedInput) {
  using S = TypeParam;
  for (const auto& row : FormsOf<S>::Rows()) {
    SCOPED_TRACE(row.name);
    const S s = Make<S>(row.text);
    const size_t size = row.bytes.size();
    ASSERT_EQ(size, s.serializationSize());

    // Exact room: exactly the expected bytes, cursor moved past them.
    std::unique_ptr<unsigned char[]> room(new unsigned char[size]);
    unsigned char* out = room.get();
    s.serialize(out, room.get() + size);
    EXPECT_EQ(room.get() + size, out);
    EXPECT_EQ(row.bytes, Bytes(room.get(), room.get() + size));

    // One byte too small: nothing written, cursor kept.
    Bytes small(size, 0xEE);
    out = small.data();
    EXPECT_THROW(s.serialize(out, small.data() + size - 1), exception::BufferOverflow);
    EXPECT_EQ(small.data(), out);
    EXPECT_EQ(Bytes(size, 0xEE), small);

    // Reading it back, into a string that held something else.
    const ExactInput input(row.bytes);
    const unsigned char* in = input.begin();
    S back = Make<S>(T<S>("prior"));
    back.deserialize(in, input.end());
    EXPECT_EQ(input.end(), in);
    EXPECT_EQ(row.text, Text(back));

    // Every shorter input fails and changes nothing.
    for (size_t cut = 0; cut < size; ++cut) {
      SCOPED_TRACE(cut);
      const ExactInput truncated(row.bytes, cut);
      in = truncated.begin();
      S kept = Make<S>(T<S>("prior"));
      EXPECT_THROW(kept.deserialize(in, truncated.end()), exception::DeserializationError);
      EXPECT_EQ(truncated.begin(), in);
      EXPECT_EQ(T<S>("prior"), Text(kept));
    }
  }
}

TYPED_TEST(StringSerializationTest, RefusesMalformedInputWithoutAllocating) {
  using S = TypeParam;
  for (const auto& row : FormsOf<S>::Refused()) {
    SCOPED_TRACE(row.name);
    const ExactInput input(row.bytes);
    const unsigned char* in = input.begin();
    S s = Make<S>(T<S>("prior"));
    // With allocation switched off, an attempt to allocate would surface as
    // std::bad_alloc instead of the refusal.
    const bool wasOff = MakeDLLMallocThrow(true);
    try {
      s.deserialize(in, input.end());
      ADD_FAILURE() << "accepted";
    } catch (const exception::InvalidSequence&) {
      EXPECT_TRUE(row.invalidSequence);
    } catch (const exception::DeserializationError& e) {
      EXPECT_FALSE(row.invalidSequence);
      EXPECT_STREQ("Failed to deserialize", e.what());
    } catch (const std::exception& e) {
      ADD_FAILURE() << "unexpected " << e.what();
    }
    MakeDLLMallocThrow(wasOff);
    EXPECT_EQ(input.begin(), in);
    EXPECT_EQ(T<S>("prior"), Text(s));
  }
}

TYPED_TEST(StringSerializationTest, FormsFollowEachOtherOnOneCursor) {
  using S = TypeParam;
  const auto rows = FormsOf<S>::Rows();
  size_t total = 0;
  std::vector<S> strings;
  for (const auto& row : rows) {
    strings.push_back(Make<S>(row.text));
    total += strings.back().serializationSize();
  }
  Bytes room(total + 3, 0xEE);
  unsigned char* out = room.data();
  for (const S& s : strings) s.serialize(out, room.data() + room.size());
  ASSERT_EQ(room.data() + total, out);

  // The trailing bytes belong to nobody: each read takes exactly its own form.
  const ExactInput input(room);
  const unsigned char* in = input.begin();
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const unsigned char* before = in;
    S back;
    back.deserialize(in, input.end());
    EXPECT_EQ(row.text, Text(back));
    EXPECT_EQ(back.serializationSize(), size_t(in - before));
  }
  EXPECT_EQ(input.begin() + total, in);
}

TYPED_TEST(StringSerializationTest, ReadingFollowsTheAssignmentBufferRule) {
  using S = TypeParam;
  struct {
    const char* name;
    std::string text;
    unsigned int capacity;
  } const cases[] = {
      {"more_than_half_used_keeps_buffer", "abcdef", 10},
      {"less_than_half_used_shrinks", "ab", 2},
      {"larger_grows_exactly", "abcdefghijkl", 12},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const S source = Make<S>(T<S>(c.text));
    Bytes bytes(source.serializationSize());
    unsigned char* out = bytes.data();
    source.serialize(out, bytes.data() + bytes.size());

    S s;
    s.reserve(10);
    const unsigned char* in = bytes.data();
    s.deserialize(in, bytes.data() + bytes.size());
    EXPECT_EQ(T<S>(c.text), Text(s));
    EXPECT_EQ(c.capacity, s.capacity());
  }
}

// An element above 0x7FFFFFFF has no UTF-8 form: it is reported and travels as '?',
// and the size agrees with what is written.
TEST(StringSerializationWideTest, ElementWithoutUtf8FormTravelsAsQuestionMark) {
  testing::AlertRecorder alerts;
  const String s(std::wstring{L'a', wchar_t(0x80000000u), L'b'}.c_str(), 3);
  ASSERT_EQ(7u, s.serializationSize());
  Bytes room(7);
  unsigned char* out = room.data();
  s.serialize(out, room.data() + room.size());
  EXPECT_EQ(room.data() + 7, out);
  EXPECT_EQ(B("\x03\x00\x00\x00"
              "a?b"s),
            room);
  EXPECT_FALSE(alerts.alerts().empty());
}

// Allocation functions that place the next string buffer in `gArena` right behind
// four bytes of input, as some allocators place two blocks side by side, and move it
// out to the heap as soon as it is reallocated, so that it is freed as a heap block.
unsigned char gArena[64];
bool gArenaArmed = false;

bool InArena(const void* p) {
  const auto a = reinterpret_cast<uintptr_t>(p), first = reinterpret_cast<uintptr_t>(gArena);
  return a >= first && a < first + sizeof(gArena);
}

void* ArenaMalloc(size_t size) {
  if (!gArenaArmed || size > sizeof(gArena) - 4) return std::malloc(size);
  gArenaArmed = false;
  return gArena + 4;
}

void* ArenaRealloc(void* pointer, size_t size) {
  if (!InArena(pointer)) return std::realloc(pointer, size);
  void* moved = std::malloc(size);
  const size_t left = sizeof(gArena) - size_t(static_cast<unsigned char*>(pointer) - gArena);
  if (moved != nullptr) std::memcpy(moved, pointer, std::min(size, left));
  return moved;
}

// Found by fuzzing: an empty Utf8String payload ends one past the input, and that
// address can be where the string's own buffer begins. The read then looked like an
// assignment of the string to itself and kept the old text.
TEST(StringSerializationRegressionTest, EmptyPayloadEndingWhereTheBufferBegins) {
  const auto previous = detail::ReplaceAllocFunctions({ArenaMalloc, ArenaRealloc});
  std::memset(gArena, 0, 4);  // the form of the empty Utf8String
  gArenaArmed = true;
  Utf8String s(reinterpret_cast<const unsigned char*>("abc"));
  gArenaArmed = false;
  EXPECT_EQ(gArena + 4, s.c_str()) << "the arena was not used; the case is not set up";

  const unsigned char* in = gArena;
  s.deserialize(in, gArena + 4);
  EXPECT_EQ(gArena + 4, in);
  EXPECT_EQ(0u, s.length());

  // Whatever happened, a reallocation now moves the buffer out of the arena.
  const std::string longer(32, 'x');
  s.assign(reinterpret_cast<const unsigned char*>(longer.c_str()), 32);
  EXPECT_FALSE(InArena(s.c_str()));
  detail::ReplaceAllocFunctions(previous);
}

}  // namespace
}  // namespace qel
}  // namespace vo
