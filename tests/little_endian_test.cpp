// The byte-order helpers: exact bytes written and read, refusals that leave the
// cursor where it was, room checks that cannot wrap, and the load-time check.
#include "qel/little_endian.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "qel/big_endian.h"
#include "qel/exception/Exception.h"
#include "tests/support/AlertRecorder.h"

namespace vo::qel {
namespace {

using Bytes = std::vector<unsigned char>;
namespace le = little_endian;
using Out = unsigned char*&;
using In = const unsigned char*&;
using End = const unsigned char*;

// `write` must put exactly `bytes` at an odd address (so no word is aligned) and
// `read` must take them back; at every shorter room or input both refuse, touching
// neither the bytes nor the cursor.
template <class Write, class Read>
void ExpectBothWays(const char* name, const Bytes& bytes, Write write, Read read) {
  SCOPED_TRACE(name);
  const size_t size = bytes.size();
  for (size_t room = 0; room <= size; ++room) {
    SCOPED_TRACE(room);
    const bool fits = room == size;
    Bytes buffer(size + 2, 0xEE);
    unsigned char* const at = buffer.data() + 1;
    unsigned char* out = at;
    if (fits) {
      write(out, at + size);
    } else {
      EXPECT_THROW(write(out, at + room), exception::BufferOverflow);
    }
    EXPECT_EQ(fits ? bytes : Bytes(size, 0xEE), Bytes(at, at + size));
    EXPECT_EQ(0xEE, buffer.back()) << "wrote past its end";
    EXPECT_EQ(at + (fits ? size : 0), out);
    std::copy(bytes.begin(), bytes.end(), at);
    const unsigned char* in = at;
    if (fits) {
      EXPECT_TRUE(read(in, at + size));
    } else {
      EXPECT_THROW(read(in, at + room), exception::DeserializationError);
    }
    EXPECT_EQ(at + (fits ? size : 0), in);
  }
}

template <typename T, bool kRaw = false>
void ExpectWord(const char* name, T value, const Bytes& bytes) {
  ExpectBothWays(
      name, bytes,
      [=](Out out, End end) {
        kRaw ? le::SerializeRaw<T>(value, out, end) : le::Serialize<T>(value, out, end);
      },
      [=](In in, End end) {
        T back = T(~value);
        kRaw ? le::DeserializeRaw<T>(back, in, end) : le::Deserialize<T>(back, in, end);
        return back == value;
      });
}

TEST(LittleEndianTest, ExactBytesBothWaysAtOddAddresses) {
  ExpectWord("uint32", 0x12345678u, {0x78, 0x56, 0x34, 0x12});
  ExpectWord<unsigned, true>("uint32_raw", 0x12345678u, {0x78, 0x56, 0x34, 0x12});
  ExpectWord("char", '\x80', {0x80});
  // Byte arrays are copied as they are; an empty one may come without a pointer.
  for (const Bytes& array : {Bytes{'a', 'b', 'c'}, Bytes{}}) {
    auto at = [](auto& v) { return v.empty() ? nullptr : v.data(); };
    ExpectBothWays(
        "byte_array", array,
        [&](Out out, End end) { le::SerializeByteArray(at(array), array.size(), out, end); },
        [&](In in, End end) {
          Bytes back(array.size());
          le::DeserializeByteArray(at(back), back.size(), in, end);
          return back == array;
        });
  }
}

// Shorter rooms and inputs are refused above; these would pass a check that wraps.
TEST(LittleEndianTest, RoomChecksCompareWithoutWrapping) {
  const unsigned char b[8] = {};
  const struct {
    const char* name;
    size_t size;
    const unsigned char *cursor, *end;
  } cases[] = {
      {"cursor_past_end", 0, b + 5, b + 4},
      {"size_near_2_32", 0xFFFFFFFFu, b, b + 8},
      {"size_wrapping_address", ~size_t(0) - 3, b + 4, b + 8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_THROW(le::CheckSerializationSize(c.size, c.cursor, c.end), exception::BufferOverflow);
    EXPECT_THROW(le::CheckDeserializationSize(c.size, c.cursor, c.end),
                 exception::DeserializationError);
  }
  EXPECT_THAT([&] { le::CheckDeserializationSize(1, b, b); },
              ::testing::Throws<exception::DeserializationError>(::testing::Property(
                  &exception::Exception::getFileName, ::testing::StrEq("little_endian"))));
}

TEST(ByteOrderTest, ReversingCopiesAndTheLoadTimeCheck) {
  const unsigned char little[4] = {0x78, 0x56, 0x34, 0x12}, big[4] = {0x12, 0x34, 0x56, 0x78};
  unsigned char out[4] = {};
  big_endian::CopyToBigEndian(4, out, little);
  EXPECT_EQ(0, std::memcmp(big, out, 4));
  big_endian::CopyFromBigEndian(3, out, big);
  EXPECT_EQ(0, std::memcmp("\x56\x34\x12", out, 3)) << "an odd count reverses too";
  // A value stored after conversion has the bytes of its order; converting back
  // gives the value.
  const UInt32 toBig = big_endian::ToBigEndian(0x12345678),
               toLittle = le::ToLittleEndian(0x12345678);
  EXPECT_EQ(0, std::memcmp(big, &toBig, 4));
  EXPECT_EQ(0, std::memcmp(little, &toLittle, 4));
  EXPECT_EQ(0x12345678u, big_endian::FromBigEndian(toBig));
  EXPECT_EQ(0x12345678u, le::FromLittleEndian(toLittle));
  testing::AlertRecorder alerts;
  ::testing::internal::CaptureStderr();
  const le::LittleEndianChecker check;
  const big_endian::LittleEndianChecker bigCheck;
  EXPECT_EQ("", ::testing::internal::GetCapturedStderr());
  EXPECT_TRUE(alerts.alerts().empty());
}

}  // namespace
}  // namespace vo::qel
