// The rules every read of an AutoBuffer from untrusted bytes keeps, checked on one input:
// the fuzz target runs them on arbitrary bytes, the unit tests on known forms.
//  1. A read either succeeds, consuming exactly the form, and writing the buffer back
//     gives exactly the bytes it consumed (for the ring: the same ring);
//  2. or it throws DeserializationError with the cursor and the buffer left as they were.
//  3. The buffer's block never grows past what it held or the count the input backs.
// A broken rule aborts. One thread: each call works on its own buffers.
#ifndef LORVATH_FUZZ_AUTOBUFFERREADING_H_
#define LORVATH_FUZZ_AUTOBUFFERREADING_H_

#include <cstring>
#include <vector>

#include "fuzz/FuzzChecks.h"
#include "qel/AutoBuffer.h"
#include "qel/exception/Exception.h"

namespace vo::qel::fuzz {

inline AutoBuffer Prior() { return AutoBuffer(reinterpret_cast<const unsigned char*>("prior"), 5); }

inline bool Unchanged(const AutoBuffer& b, const unsigned char* data, unsigned int memUsage) {
  return b.Data() == data && b.MemUsage() == memUsage && b == Prior();
}

// Reads form after form from `begin` until a read is refused; returns where it stopped.
inline const unsigned char* ReadFlat(const unsigned char* begin, const unsigned char* end) {
  AutoBuffer b = Prior();
  for (const unsigned char* in = begin;;) {
    b.Erase();
    b.Append("prior", 5);
    const unsigned char* const start = in;
    const unsigned char* const data = b.Data();
    const unsigned int memUsage = b.MemUsage();
    try {
      b.deserialize(in, end);
    } catch (const exception::DeserializationError&) {
      Require(in == start && Unchanged(b, data, memUsage), "a refused read changed something");
      return in;
    }
    const size_t consumed = static_cast<size_t>(in - start);
    Require(consumed >= 4 && consumed <= static_cast<size_t>(end - start),
            "the cursor left the input");
    Require(consumed == b.serializationSize(), "the cursor did not move by the form's size");
    Require(b.MemUsage() <= (memUsage > b.Len() ? memUsage : b.Len()), "allocated past the count");
    std::vector<unsigned char> again(consumed);
    unsigned char* out = again.data();
    b.serialize(out, again.data() + consumed);
    Require(std::memcmp(again.data(), start, consumed) == 0, "writing back gave other bytes");
  }
}

// Reads one form from the ring [begin, end) at `at` modulo its size; returns the cursor
// after it, or null when the read was refused.
inline const unsigned char* ReadRing(const unsigned char* begin, const unsigned char* end,
                                     size_t at) {
  const size_t size = static_cast<size_t>(end - begin);
  if (size == 0) return nullptr;
  const unsigned char* const start = begin + at % size;
  AutoBuffer b = Prior();
  const unsigned char* const data = b.Data();
  const unsigned int memUsage = b.MemUsage();
  const unsigned char* after = nullptr;
  try {
    after = b.circularDeserialize(begin, end, start);
  } catch (const exception::DeserializationError&) {
    Require(Unchanged(b, data, memUsage), "a refused ring read changed something");
    return nullptr;
  }
  Require(size >= b.serializationSize(), "read a form larger than the ring");
  Require(after == begin + (at % size + b.serializationSize()) % size, "wrong cursor after");
  std::vector<unsigned char> ring(begin, end);
  unsigned char* p = ring.data() + at % size;
  b.circularSerialize(ring.data(), ring.data() + size, p);
  Require(p == ring.data() + (after - begin), "writer and reader end apart");
  Require(std::memcmp(ring.data(), begin, size) == 0, "writing back changed the ring");
  return after;
}

}  // namespace vo::qel::fuzz

#endif  // LORVATH_FUZZ_AUTOBUFFERREADING_H_
