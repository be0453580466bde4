// AutoBuffer: edits and growth, copy on write and sources inside the buffer's own block,
// both serialized forms byte for byte, readers of short and hostile input, and copies
// shared between threads.
#include "qel/AutoBuffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "fuzz/AutoBufferReading.h"
#include "qel/exception/Exception.h"
#include "tests/support/AlertRecorder.h"

namespace vo::qel {
namespace {

using Bytes = std::string;  // '.' in an expected ring: a byte the writer left alone

Bytes Text(const AutoBuffer& b) { return Bytes(reinterpret_cast<const char*>(b.Data()), b.Len()); }
const unsigned char* U(const Bytes& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

TEST(AutoBufferTest, Edits) {
  using Edit = std::function<void(AutoBuffer&)>;
  // clang-format off
  const struct {
    const char* name;
    Edit edit;
    Bytes bytes;
    unsigned int memUsage;
    const char* reports;
  } rows[] = {
    {"grow_1_to_2000", [](AutoBuffer& b) { b.Append("a", 1), b.Append(Bytes(1999, 'a').data(), 1999); }, Bytes(2000, 'a'), 2200, ""},
    {"reserve_exact", [](AutoBuffer& b) { b.Append("a", 1), b.Reserve(1000), b.Reserve(5); }, "a", 1000, ""},
    {"unappend_skip", [](AutoBuffer& b) { b.Append("\1\2\3", 3), b.UnAppend(2), b.Skip(2); }, Bytes("\1\0\0", 3), 131, ""},
    {"modify_then_skip", [](AutoBuffer& b) { b.Append("ab000", 5), b.UnAppend(3), b.Modify(5, "xyz", 3), b.Skip(6); }, Bytes("ab\0\0\0xyz", 8), 133, ""},
    {"modify_grows", [](AutoBuffer& b) { b.Modify(200, "x", 1); }, "", 329, ""},
    {"reverse", [](AutoBuffer& b) { b.appendReverseByteOrder("\1\2\3\4", 4); }, "\4\3\2\1", 132, ""},
    {"erase_keeps_block", [](AutoBuffer& b) { b.Append("ab", 2), b.Erase(); }, "", 130, ""},
    {"unappend_too_much", [](AutoBuffer& b) { b.Append("ab", 2), b.UnAppend(3); }, "ab", 130, "Len() >= size | "},
    {"unappend_no_guts", [](AutoBuffer& b) { b.UnAppend(1); }, "", 0, "guts_ | Len() >= size | "},
    {"append_null", [](AutoBuffer& b) { b.Append(nullptr, 3); }, "", 0, "data != 0 | "},
    {"overflows_throw", [](AutoBuffer& b) { b.Append("ab", 2); EXPECT_THROW(b.Modify(0xFFFFFFFF, "xy", 2), exception::OutOfRange);
                                          EXPECT_THROW(b.Skip(0xFFFFFFFF), exception::OutOfRange); }, "ab", 130, ""},
    // Sources inside the buffer's own block, which moves or is let go of meanwhile.
    {"append_self", [](AutoBuffer& b) { b.Reserve(3), b.Append("abc", 3), b.Append(b.Data(), 3); }, "abcabc", 134, ""},
    {"reverse_self", [](AutoBuffer& b) { b.Reserve(2), b.Append("ab", 2), b.appendReverseByteOrder(b.Data(), 2); }, "abba", 132, ""},
    {"modify_self", [](AutoBuffer& b) { b.Reserve(2), b.Append("ab", 2), b.Modify(2, b.Data(), 2), b.Skip(2); }, "abab", 132, ""},
    {"read_own_block", [](AutoBuffer& b) { b.Reserve(6), b.Append("\2\0\0\0xy", 6); const unsigned char* in = b.Data(); b.deserialize(in, in + 6); }, "xy", 6, ""},
    {"ring_read_own_block", [](AutoBuffer& b) { b.Reserve(8), b.Append("BC.\3\0\0\0A", 8); const unsigned char* ring = b.Data();
                                                EXPECT_EQ(ring + 2, b.circularDeserialize(ring, ring + 8, ring + 3)); }, "ABC", 8, ""},
    {"ring_read_at_end", [](AutoBuffer& b) { unsigned char r[8] = {};
                                             EXPECT_THROW(b.circularDeserialize(r, r + 8, r + 8), exception::DeserializationError); }, "", 0, "begin < endBuf | "},
    {"assign_own_view", [](AutoBuffer& b) { b.Append("ab", 2), b = BufferWrapper(b); }, "ab", 130, ""},
    // Copies share one block until one changes; the copy's block is the size it allocated.
    {"copy_then_append", [](AutoBuffer& b) { AutoBuffer a(1000); a.Append("0123456789", 10), b = a;
                                             EXPECT_EQ(a.Data(), b.Data());
                                             b.Append("x", 1), b.Skip(989), b.UnAppend(989);  // to the block's last byte
                                             EXPECT_EQ("0123456789", Text(a)); }, "0123456789x", 1000, ""},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    AutoBuffer b;
    testing::AlertRecorder alerts;
    row.edit(b);
    std::string reports;  // "expression | message" of each failed check
    for (const std::string& r : alerts.take()) reports += r.substr(r.find(") ") + 2);
    EXPECT_EQ(row.reports, reports);
    EXPECT_EQ(row.bytes, Text(b));
    EXPECT_EQ(row.memUsage, b.MemUsage());
  }
}

TEST(AutoBufferTest, CompareBuffers) {
  const auto compare = [](const Bytes& a, const Bytes& b) {
    return CompareBuffers(BufferWrapper(U(a), a.size()), BufferWrapper(U(b), b.size()));
  };
  EXPECT_EQ((std::vector<int>{-1, 1, -1, 0, 1}),
            (std::vector<int>{compare("ab", "abc"), compare("abc", "ab"), compare("ab", "ac"),
                              compare("", ""), compare("\x80", "\x01")}));
}

// Both forms byte for byte, and read back under the reading rules (the fuzz corpus holds
// the hostile forms).
TEST(AutoBufferTest, FlatAndRingForms) {
  const Bytes k256(256, 'q');
  const struct {
    Bytes data, form;
  } rows[] = {
      {"", Bytes(4, '\0')}, {"abc", Bytes("\3\0\0\0abc", 7)}, {k256, Bytes("\0\1\0\0", 4) + k256}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.form.size());
    AutoBuffer b(U(row.data), row.data.size());
    std::vector<unsigned char> room(row.form.size());
    unsigned char* out = room.data();
    EXPECT_THROW(b.serialize(out, room.data() + room.size() - 1), exception::BufferOverflow);
    b.serialize(out, room.data() + room.size());
    EXPECT_EQ(row.form, Bytes(room.begin(), room.end()));
    EXPECT_EQ(out, fuzz::ReadFlat(room.data(), out));
    EXPECT_EQ(room.data(), fuzz::ReadFlat(room.data(), out - 1));  // cut short
  }
  const struct {
    const char* name;
    size_t ring, at;
    Bytes data, expected;
    size_t after;
  } rings[] = {
      {"count_wraps", 12, 9, "ABCDEF", Bytes("\0ABCDEF..\6\0\0", 12), 7},
      {"long_count_wraps", 262, 259, k256, Bytes(1, '\0') + k256 + Bytes("..\0\1\0", 5), 257},
      {"data_wraps", 16, 10, "ABCDEFGH", Bytes("CDEFGH....\10\0\0\0AB", 16), 6},
      {"flat_to_end", 8, 1, "ABC", Bytes(".\3\0\0\0ABC", 8), 0},
      {"count_to_end", 8, 4, "ABC", Bytes("ABC.\3\0\0\0", 8), 3},
      {"whole_ring", 8, 3, "ABCD", Bytes("BCD\4\0\0\0A", 8), 3},
      {"empty", 4, 2, "", Bytes(4, '\0'), 2},
  };
  for (const auto& row : rings) {
    SCOPED_TRACE(row.name);
    std::vector<unsigned char> ring(row.ring, '.');
    unsigned char* p = ring.data() + row.at;
    AutoBuffer(U(row.data), row.data.size())
        .circularSerialize(ring.data(), ring.data() + row.ring, p);
    EXPECT_EQ(row.expected, Bytes(ring.begin(), ring.end()));
    EXPECT_EQ(row.after, size_t(p - ring.data()));
    EXPECT_EQ(p, fuzz::ReadRing(ring.data(), ring.data() + row.ring, row.at));
  }
  std::vector<unsigned char> ring(8, '.');
  unsigned char* p = ring.data();
  EXPECT_THROW(AutoBuffer(U("ABCDE"), 5).circularSerialize(ring.data(), ring.data() + 8, p),
               exception::BufferOverflow);
  EXPECT_EQ(Bytes(8, '.'), Bytes(ring.begin(), ring.end()));
}

// Copies of one buffer on several threads, changed and destroyed while others read.
TEST(AutoBufferTest, CopiesOnManyThreads) {
  const Bytes original(4096, 'o');
  const AutoBuffer shared(U(original), original.size());
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 500; ++i) {
        AutoBuffer mine = shared, other;
        other = mine;
        mine.Append(&t, 1);
        if (i % 2 == 0) other.Erase();
        if (Text(other) != original && Text(other) != "") std::abort();
        if (Text(mine).compare(0, 4096, original) != 0) std::abort();
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(original, Text(shared));
}

}  // namespace
}  // namespace vo::qel
