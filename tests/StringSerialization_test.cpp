// The serialized form of every string kind, byte for byte, and the inputs each must
// refuse without moving the cursor, changing the string or allocating.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "fuzz/StringReads.h"
#include "qel/DLLAlloc.h"
#include "qel/StringBase.h"
#include "qel/exception/Exception.h"
#include "tests/support/AlertRecorder.h"

namespace vo::qel {
namespace {

using namespace std::string_literals;
using Bytes = std::vector<unsigned char>;

// A text and its serialized form (a little-endian count, the elements), or bytes refused
// (`thrown`), for the kinds named: N for ANSIString and ASCIIString (the terminator written
// and counted), U for Utf8String (bytes as they are), W for String (UTF-8 up to 0x7FFFFFFF).
const struct {
  const char *kinds, *name;
  std::wstring text;
  std::string bytes;
  const char* thrown = "";  // "unreadable" (DeserializationError) or "invalid"
} kRows[] = {
    {"N", "empty", L"", "\1\0\0\0\0"s},
    {"UW", "empty", L"", "\0\0\0\0"s},
    {"N", "embedded_zero_kept", L"a\0b"s, "\4\0\0\0a\0b\0"s},
    {"UW", "trailing_zero_is_text", L"a\0"s, "\2\0\0\0a\0"s},
    {"NUW", "count_past_input", L"", "\5\0\0\0abc\0"s, "unreadable"},
    {"NUW", "count_largest", L"", "\xFF\xFF\xFF\xFF\x61\0"s, "unreadable"},  // 0x61 is 'a'
    {"N", "zero_count_then_zero", L"", "\0\0\0\0\0"s, "unreadable"},
    {"N", "last_byte_not_zero", L"", "\3\0\0\0a\0c"s, "unreadable"},
    {"U", "bytes_not_validated", L"\xFF\xC0\x80", "\3\0\0\0\xFF\xC0\x80"s},
    {"W", "two_bytes", L"\u00e9", "\2\0\0\0\xC3\xA9"s},
    {"W", "six_bytes_highest", std::wstring(1, 0x7FFFFFFF), "\6\0\0\0\xFD\xBF\xBF\xBF\xBF\xBF"s},
    {"W", "longer_than_stack_scratch", std::wstring(300, L'w'),
     "\x2C\1\0\0"s + std::string(300, 'w')},
    {"W", "lone_continuation", L"", "\1\0\0\0\x80"s, "invalid"},
    {"W", "overlong_C0_80", L"", "\2\0\0\0\xC0\x80"s, "invalid"},
    // The bytes that would complete the sequence lie past the count.
    {"W", "sequence_cut_by_count", L"", "\1\0\0\0\xC3\xA9"s, "invalid"},
};

template <typename S>
class StringSerializationTest : public ::testing::Test {};
using Kinds = ::testing::Types<String, ANSIString, ASCIIString, Utf8String>;
TYPED_TEST_SUITE(StringSerializationTest, Kinds);

// Writing gives the row's bytes in exact room, and nothing with one byte less. Reading them
// back (ReadAll writes the result again) stops at the end; shorter cuts are refused.
TYPED_TEST(StringSerializationTest, ExactBytesAndRefusals) {
  using S = TypeParam;
  const char kind = std::is_same<S, String>::value       ? 'W'
                    : std::is_same<S, Utf8String>::value ? 'U'
                                                         : 'N';
  testing::AlertRecorder alerts;
  for (const auto& row : kRows) {
    if (std::strchr(row.kinds, kind) == nullptr) continue;
    SCOPED_TRACE(row.name);
    const Bytes bytes(row.bytes.begin(), row.bytes.end());
    const size_t size = bytes.size();
    if (*row.thrown) {
      EXPECT_EQ("0 "s + row.thrown, fuzz::ReadAll<S>(bytes.data(), size));
      continue;
    }
    const std::basic_string<typename S::value_type> text(row.text.begin(), row.text.end());
    const S s(text.data(), text.size());
    Bytes room(size, 0xEE);
    unsigned char* out = room.data();
    EXPECT_THROW(s.serialize(out, room.data() + size - 1), exception::BufferOverflow);
    EXPECT_EQ(Bytes(size, 0xEE), room);
    s.serialize(out, out + size);
    EXPECT_EQ(room.data() + size, out);
    EXPECT_EQ(bytes, room);
    EXPECT_EQ("1 unreadable", fuzz::ReadAll<S>(bytes.data(), size));
    for (size_t cut = 0; cut < size; ++cut) {
      EXPECT_EQ("0 unreadable", fuzz::ReadAll<S>(bytes.data(), cut)) << cut;
    }
  }
  EXPECT_EQ(std::vector<std::string>(), alerts.take());
}

// Found by fuzzing: an empty Utf8String payload ends one past the input, which can be
// where the string's own buffer begins (here both lie in `arena`, whose first four bytes
// are the empty form); the read took that for a self-assignment. The string moves out of
// the arena without its old text, which the read replaces, and is never destroyed.
TEST(StringSerializationRegressionTest, EmptyPayloadEndingWhereTheBufferBegins) {
  static unsigned char arena[64];
  const auto moveOut = +[](void* p, size_t size) {
    return p == arena + 4 ? std::malloc(size) : std::realloc(p, size);
  };
  const auto previous =
      detail::ReplaceAllocFunctions({[](size_t) -> void* { return arena + 4; }, moveOut});
  static Utf8String& s = *new Utf8String(reinterpret_cast<const unsigned char*>("abc"));
  detail::ReplaceAllocFunctions({nullptr, moveOut});
  EXPECT_EQ(arena + 4, s.c_str()) << "the arena was not used; the case is not set up";
  const unsigned char* in = arena;
  s.deserialize(in, arena + 4);
  EXPECT_EQ(arena + 4, in);
  EXPECT_EQ(0u, s.length());
  detail::ReplaceAllocFunctions(previous);
}

}  // namespace
}  // namespace vo::qel
