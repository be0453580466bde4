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
using little_endian::Deserialize;
using little_endian::DeserializeByteArray;
using little_endian::DeserializeRaw;
using little_endian::Serialize;
using little_endian::SerializeByteArray;
using little_endian::SerializeRaw;

// Writers, each given a room of exactly the bytes it should produce.
TEST(LittleEndianTest, WritersProduceLeastSignificantByteFirst) {
  const unsigned char abc[] = {'a', 'b', 'c'};
  struct Case {
    const char* name;
    std::function<void(unsigned char*&, const unsigned char*)> write;
    Bytes expected;
  };
  const Case cases[] = {
      {"uint32",
       [](unsigned char*& o, const unsigned char* e) {
         Serialize<unsigned int>(0x12345678u, o, e);
       },
       {0x78, 0x56, 0x34, 0x12}},
      {"uint32_raw",
       [](unsigned char*& o, const unsigned char* e) {
         SerializeRaw<unsigned int>(0x12345678u, o, e);
       },
       {0x78, 0x56, 0x34, 0x12}},
      {"uint32_max",
       [](unsigned char*& o, const unsigned char* e) {
         Serialize<unsigned int>(0xFFFFFFFFu, o, e);
       },
       {0xFF, 0xFF, 0xFF, 0xFF}},
      {"char",
       [](unsigned char*& o, const unsigned char* e) { Serialize<char>('\x80', o, e); },
       {0x80}},
      {"char_raw",
       [](unsigned char*& o, const unsigned char* e) { SerializeRaw<char>('a', o, e); },
       {0x61}},
      {"byte_array",
       [&](unsigned char*& o, const unsigned char* e) { SerializeByteArray(abc, 3, o, e); },
       {'a', 'b', 'c'}},
      {"empty_byte_array",
       [](unsigned char*& o, const unsigned char* e) { SerializeByteArray(nullptr, 0, o, e); },
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes room(c.expected.size() + 1, 0xEE);
    unsigned char* out = room.data();
    c.write(out, room.data() + c.expected.size());
    EXPECT_EQ(room.data() + c.expected.size(), out);
    EXPECT_EQ(c.expected, Bytes(room.begin(), room.end() - 1));
    EXPECT_EQ(0xEE, room.back()) << "wrote past its end";

    // One byte less room: nothing written, cursor kept.
    if (c.expected.empty()) continue;
    Bytes small(c.expected.size(), 0xEE);
    out = small.data();
    EXPECT_THROW(c.write(out, small.data() + small.size() - 1), exception::BufferOverflow);
    EXPECT_EQ(small.data(), out);
    EXPECT_EQ(Bytes(small.size(), 0xEE), small);
  }
}

TEST(LittleEndianTest, ReadersTakeExactlyTheirBytes) {
  const Bytes input = {0x78, 0x56, 0x34, 0x12, 0x80, 'x', 'y'};
  const unsigned char* in = input.data();
  const unsigned char* const end = input.data() + input.size();

  unsigned int value = 0;
  Deserialize<unsigned int>(value, in, end);
  EXPECT_EQ(0x12345678u, value);
  in = input.data();
  DeserializeRaw<unsigned int>(value, in, end);
  EXPECT_EQ(0x12345678u, value);
  EXPECT_EQ(input.data() + 4, in);

  char c = 0;
  Deserialize<char>(c, in, end);
  EXPECT_EQ('\x80', c);
  unsigned char two[2] = {};
  DeserializeByteArray(two, 2, in, end);
  EXPECT_EQ('x', two[0]);
  EXPECT_EQ('y', two[1]);
  EXPECT_EQ(end, in);
  DeserializeByteArray(nullptr, 0, in, end);
  EXPECT_EQ(end, in);

  // Every input shorter than a word, and a cursor already past its end.
  for (size_t left = 0; left < 4; ++left) {
    SCOPED_TRACE(left);
    in = input.data();
    value = 7;
    EXPECT_THROW(Deserialize<unsigned int>(value, in, input.data() + left),
                 exception::DeserializationError);
    EXPECT_THROW(DeserializeRaw<unsigned int>(value, in, input.data() + left),
                 exception::DeserializationError);
    EXPECT_EQ(input.data(), in);
    EXPECT_EQ(7u, value);
  }
  in = input.data() + 2;
  EXPECT_THROW(DeserializeByteArray(two, 0, in, input.data() + 1), exception::DeserializationError);
  EXPECT_EQ(input.data() + 2, in);
}

TEST(LittleEndianTest, RoomChecksCompareWithoutWrapping) {
  unsigned char buffer[8] = {};
  const unsigned char* b = buffer;
  struct Case {
    const char* name;
    size_t size;
    const unsigned char* cursor;
    const unsigned char* end;
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
      EXPECT_NO_THROW(little_endian::CheckSerializationSize(c.size, c.cursor, c.end));
      EXPECT_NO_THROW(little_endian::CheckDeserializationSize(c.size, c.cursor, c.end));
    } else {
      EXPECT_THROW(little_endian::CheckSerializationSize(c.size, c.cursor, c.end),
                   exception::BufferOverflow);
      EXPECT_THROW(little_endian::CheckDeserializationSize(c.size, c.cursor, c.end),
                   exception::DeserializationError);
    }
  }
  try {
    little_endian::CheckDeserializationSize(1, b, b);
    ADD_FAILURE() << "no exception";
  } catch (const exception::DeserializationError& e) {
    EXPECT_STREQ("Failed to deserialize", e.what());
    EXPECT_STREQ("little_endian", e.getFileName());
  }
  try {
    little_endian::CheckSerializationSize(1, b, b);
    ADD_FAILURE() << "no exception";
  } catch (const exception::BufferOverflow& e) {
    EXPECT_STREQ("Buffer overflowed", e.what());
    EXPECT_STREQ("little_endian", e.getFileName());
  }
}

TEST(ByteOrderTest, WordConversionsAndReversingCopies) {
  const unsigned char le[4] = {0x78, 0x56, 0x34, 0x12};
  const unsigned char be[4] = {0x12, 0x34, 0x56, 0x78};
  UInt32 stored = 0;

  stored = little_endian::ToLittleEndian(0x12345678);
  EXPECT_EQ(0, std::memcmp(le, &stored, 4));
  std::memcpy(&stored, le, 4);
  EXPECT_EQ(0x12345678u, little_endian::FromLittleEndian(stored));

  stored = big_endian::ToBigEndian(0x12345678);
  EXPECT_EQ(0, std::memcmp(be, &stored, 4));
  std::memcpy(&stored, be, 4);
  EXPECT_EQ(0x12345678u, big_endian::FromBigEndian(stored));

  unsigned char out[4] = {};
  big_endian::CopyToBigEndian(4, out, le);
  EXPECT_EQ(0, std::memcmp(be, out, 4));
  big_endian::CopyFromBigEndian(4, out, be);
  EXPECT_EQ(0, std::memcmp(le, out, 4));
  const unsigned char three[3] = {1, 2, 3};
  big_endian::CopyToBigEndian(3, out, three);
  EXPECT_EQ(3, out[0]);
  EXPECT_EQ(2, out[1]);
  EXPECT_EQ(1, out[2]);
}

TEST(ByteOrderTest, LoadTimeCheckPassesOnThisMachine) {
  testing::AlertRecorder alerts;
  ::testing::internal::CaptureStderr();
  const little_endian::LittleEndianChecker little;
  const big_endian::LittleEndianChecker big;
  EXPECT_EQ("", ::testing::internal::GetCapturedStderr());
  EXPECT_TRUE(alerts.alerts().empty());
}

}  // namespace
}  // namespace qel
}  // namespace vo
