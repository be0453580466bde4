// The byte-order helpers: exact bytes written and read, refusals that leave the
// cursor where it was, room checks that cannot wrap, and the load-time check.
#include "qel/little_endian.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "qel/big_endian.h"
#include "qel/exception/Exception.h"
#include "tests/support/AlertRecorder.h"

namespace vo {
namespace qel {
namespace {

using Bytes = std::vector<unsigned char>;
namespace le = little_endian;
using Out = unsigned char*&;
using In = const unsigned char*&;
using End = const unsigned char*;

// A row writes a value, and reads it back answering whether it came back equal.
struct Row {
  const char* name;
  Bytes bytes;
  std::function<void(Out, End)> write;
  std::function<bool(In, End)> read;
};

template <typename T, bool kRaw = false>
Row Word(const char* name, T value, Bytes bytes) {
  return {name, bytes,
          [=](Out out, End end) {
            kRaw ? le::SerializeRaw<T>(value, out, end) : le::Serialize<T>(value, out, end);
          },
          [=](In in, End end) {
            T back = T(~value);
            kRaw ? le::DeserializeRaw<T>(back, in, end) : le::Deserialize<T>(back, in, end);
            return back == value;
          }};
}

// Byte arrays are copied as they are; an empty one may come without a pointer.
Row Array(const char* name, const Bytes& bytes) {
  auto at = [](auto& v) { return v.empty() ? nullptr : v.data(); };
  return {name, bytes, [=](Out o, End e) { le::SerializeByteArray(at(bytes), bytes.size(), o, e); },
          [=](In i, End e) {
            Bytes back(bytes.size());
            le::DeserializeByteArray(at(back), back.size(), i, e);
            return back == bytes;
          }};
}

TEST(LittleEndianTest, ExactBytesBothWays) {
  const Row cases[] = {
      Word("uint32", 0x12345678u, {0x78, 0x56, 0x34, 0x12}),
      Word<unsigned, true>("uint32_raw", 0x12345678u, {0x78, 0x56, 0x34, 0x12}),
      Word("char", '\x80', {0x80}),
      Array("byte_array", {'a', 'b', 'c'}),
      Array("empty_byte_array", {}),
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t size = c.bytes.size();
    Bytes room(size + 1, 0xEE);
    unsigned char* out = room.data();
    c.write(out, room.data() + size);
    EXPECT_EQ(room.data() + size, out);
    EXPECT_EQ(c.bytes, Bytes(room.begin(), room.end() - 1));
    EXPECT_EQ(0xEE, room.back()) << "wrote past its end";

    const unsigned char* in = room.data();
    EXPECT_TRUE(c.read(in, room.data() + size));
    EXPECT_EQ(room.data() + size, in);

    // One byte less room or input: nothing written, cursor kept.
    for (size_t cut = 0; cut < size; ++cut) {
      SCOPED_TRACE(cut);
      Bytes small(size, 0xEE);
      out = small.data();
      EXPECT_THROW(c.write(out, small.data() + cut), exception::BufferOverflow);
      EXPECT_EQ(small.data(), out);
      EXPECT_EQ(Bytes(size, 0xEE), small);
      in = c.bytes.data();
      EXPECT_THROW(c.read(in, c.bytes.data() + cut), exception::DeserializationError);
      EXPECT_EQ(c.bytes.data(), in);
    }
  }
}

TEST(LittleEndianTest, RoomChecksCompareWithoutWrapping) {
  unsigned char buffer[8] = {};
  const unsigned char* b = buffer;
  struct {
    const char* name;
    size_t size;
    const unsigned char *cursor, *end;
    bool fits;
  } const cases[] = {
      {"exact", 8, b, b + 8, true},
      {"nothing_at_end", 0, b + 8, b + 8, true},
      {"one_short", 9, b, b + 8, false},
      {"cursor_past_end", 0, b + 5, b + 4, false},
      {"size_near_2_32", 0xFFFFFFFFu, b, b + 8, false},
      {"size_wrapping_address", ~size_t(0) - 3, b + 4, b + 8, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.fits) {
      EXPECT_NO_THROW(le::CheckSerializationSize(c.size, c.cursor, c.end));
      EXPECT_NO_THROW(le::CheckDeserializationSize(c.size, c.cursor, c.end));
    } else {
      EXPECT_THROW(le::CheckSerializationSize(c.size, c.cursor, c.end), exception::BufferOverflow);
      EXPECT_THROW(le::CheckDeserializationSize(c.size, c.cursor, c.end),
                   exception::DeserializationError);
    }
  }
  try {
    le::CheckDeserializationSize(1, b, b);
  } catch (const exception::DeserializationError& e) {
    EXPECT_STREQ("little_endian", e.getFileName());
  }
}

TEST(ByteOrderTest, ReversingCopiesAndTheLoadTimeCheck) {
  const unsigned char little[4] = {0x78, 0x56, 0x34, 0x12}, big[4] = {0x12, 0x34, 0x56, 0x78};
  unsigned char out[4] = {};
  big_endian::CopyToBigEndian(4, out, little);
  EXPECT_EQ(0, std::memcmp(big, out, 4));
  big_endian::CopyFromBigEndian(3, out, big);
  EXPECT_EQ(0, std::memcmp("\x56\x34\x12", out, 3)) << "an odd count reverses too";

  testing::AlertRecorder alerts;
  ::testing::internal::CaptureStderr();
  const le::LittleEndianChecker check;
  EXPECT_EQ("", ::testing::internal::GetCapturedStderr());
  EXPECT_TRUE(alerts.alerts().empty());
}

}  // namespace
}  // namespace qel
}  // namespace vo
