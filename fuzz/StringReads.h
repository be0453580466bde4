// Reads a string kind from arbitrary bytes, form after form on one cursor, checking the
// reading rules; the fuzz target and the serialization test share it.
// One thread: the allocation hooks it installs are process-wide.
//  1. A read that succeeds moves the cursor by serializationSize() bytes, within the input
//     (a heap block of exactly its size, for AddressSanitizer), allocates no more than one
//     element per byte read plus the terminator, and writes back the same bytes.
//  2. A refused read (DeserializationError; InvalidSequence for String) changes neither
//     the cursor nor the string, and allocates nothing.
#ifndef LORVATH_FUZZ_STRINGREADS_H_
#define LORVATH_FUZZ_STRINGREADS_H_

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "qel/DLLAlloc.h"
#include "qel/StringBase.h"
#include "qel/exception/Exception.h"

namespace vo::qel::fuzz {

inline size_t gLargestRequest = 0;

inline void* RecordingRealloc(void* pointer, size_t size) {
  gLargestRequest = std::max(gLargestRequest, size);
  return std::realloc(pointer, size);
}

// Reads forms into one string that held "prior" until a read is refused. Answers how
// many forms were read and what refused the last ("unreadable" or "invalid"), or the
// rule broken ("broken: ...").
template <typename S>
std::string ReadAll(const unsigned char* data, size_t size) {
  const std::vector<unsigned char> input(data, data + size);
  const unsigned char *in = input.data(), *const end = in + size;
  static const typename S::value_type kPrior[] = {'p', 'r', 'i', 'o', 'r', 0};
  S s(kPrior);
  const auto previous = detail::ReplaceAllocFunctions(
      {[](size_t n) { return RecordingRealloc(nullptr, n); }, RecordingRealloc});
  std::string ended;
  for (int forms = 0; ended.empty(); ++forms) {
    const S before(s);
    const unsigned char* start = in;
    gLargestRequest = 0;
    try {
      s.deserialize(in, end);
      const size_t consumed = static_cast<size_t>(in - start);
      std::vector<unsigned char> again(consumed);
      unsigned char* out = again.data();
      if (in > end) {
        ended = "broken: the cursor left the input";
      } else if (gLargestRequest > sizeof(typename S::value_type) * (consumed + 1)) {
        ended = "broken: allocated more than the input holds";
      } else if (consumed != s.serializationSize()) {
        ended = "broken: the cursor did not move by the form's size";
      } else {
        s.serialize(out, out + consumed);
        if (out != again.data() + consumed || !std::equal(again.begin(), again.end(), start))
          ended = "broken: writing back gave other bytes";
      }
      continue;
    } catch (const exception::DeserializationError&) {
      ended = std::to_string(forms) + " unreadable";
    } catch (const exception::InvalidSequence&) {
      ended = std::to_string(forms) + " invalid";
    }
    if (in != start || s.exactCompare(before) != 0 || gLargestRequest != 0)
      ended = "broken: a refused read changed or allocated something";
  }
  detail::ReplaceAllocFunctions(previous);
  return ended;
}

}  // namespace vo::qel::fuzz

#endif  // LORVATH_FUZZ_STRINGREADS_H_
