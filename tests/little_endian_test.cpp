// The byte-order helpers: exact bytes written and read at an odd address, refusals
// that leave the cursor where it was, and room checks that cannot wrap.
#include "qel/little_endian.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "qel/exception/Exception.h"

namespace vo::qel {
namespace {

using Bytes = std::vector<unsigned char>;
namespace le = little_endian;

// A word and "abc", written into and read from a room cut short by
// `cut` bytes: what fits is done, the rest is refused untouched.
TEST(LittleEndianTest, ExactBytesAndRefusals) {
  const Bytes bytes = {0x78, 0x56, 0x34, 0x12, 'a', 'b', 'c'}, abc(bytes.begin() + 4, bytes.end());
  for (const size_t cut : {0, 1, 7}) {
    SCOPED_TRACE(cut);
    const size_t room = 7 - cut, done = cut == 0 ? 7 : cut == 1 ? 4 : 0;
    Bytes buffer(9, 0xEE);
    unsigned char* const at = buffer.data() + 1;  // odd: no word is aligned
    unsigned char* out = at;
    try {
      le::Serialize<UInt32>(0x12345678, out, at + room);
      le::SerializeByteArray(abc.data(), 3, out, at + room);
    } catch (const exception::BufferOverflow&) {
    }
    EXPECT_EQ(at + done, out);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + done), Bytes(at, at + done));
    EXPECT_EQ(Bytes(8 - done, 0xEE), Bytes(at + done, at + 8)) << "wrote what did not fit";
    std::copy(bytes.begin(), bytes.end(), at);
    const unsigned char* in = at;
    UInt32 word = 0;
    Bytes back(3);
    try {
      le::Deserialize<UInt32>(word, in, at + room);
      le::DeserializeByteArray(back.data(), 3, in, at + room);
    } catch (const exception::DeserializationError&) {
    }
    EXPECT_EQ(at + done, in);
    EXPECT_EQ(done >= 4 ? 0x12345678u : 0u, word);
    EXPECT_EQ(done == 7 ? abc : Bytes(3), back);
  }
}

// Shorter rooms are refused above; these would pass a check that wraps.
TEST(LittleEndianTest, RoomChecksCompareWithoutWrapping) {
  const unsigned char b[8] = {};
  const struct {
    size_t size;
    const unsigned char *cursor, *end;
  } cases[] = {
      {0, b + 5, b + 4},               // the cursor past the end
      {0xFFFFFFFFu, b, b + 8},         // a size near 2^32
      {~size_t(0) - 3, b + 4, b + 8},  // a size that wraps the address
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    EXPECT_THROW(le::CheckSerializationSize(c.size, c.cursor, c.end), exception::BufferOverflow);
    EXPECT_THROW(le::CheckDeserializationSize(c.size, c.cursor, c.end),
                 exception::DeserializationError);
  }
}

}  // namespace
}  // namespace vo::qel
