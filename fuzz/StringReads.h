// Reads a string kind from arbitrary bytes, form after form on one cursor, and checks
// the reading rules; the fuzz target and the serialization test share it.
// One thread: the allocation hooks it installs are process-wide.
// The rules:
//  1. A read either succeeds, moving the cursor by exactly serializationSize() bytes,
//     and writing the string back gives exactly the bytes it consumed;
//  2. or it throws DeserializationError (InvalidSequence for String) with the cursor
//     and the string left as they were, and nothing allocated.
//  3. Nothing outside the input is read: the input is copied into a heap block of
//     exactly its size, so AddressSanitizer sees any stray read.
//  4. No string allocation is larger than the bytes consumed can justify: one
//     element per payload byte plus the terminator.
#ifndef LORVATH_FUZZ_STRINGREADS_H_
#define LORVATH_FUZZ_STRINGREADS_H_

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "qel/DLLAlloc.h"
#include "qel/StringBase.h"
#include "qel/exception/Exception.h"

namespace vo::qel::fuzz {

inline size_t gLargestRequest = 0;

inline void* RecordingRealloc(void* pointer, size_t size) {
  if (size > gLargestRequest) gLargestRequest = size;
  return std::realloc(pointer, size);
}

// What a read that succeeded from `start` to `in` broke, or "" when it kept the rules.
template <typename S>
std::string CheckRead(const S& s, const unsigned char* start, const unsigned char* in,
                      const unsigned char* end) {
  const size_t consumed = static_cast<size_t>(in - start);
  if (in > end) return "broken: the cursor left the input";
  if (gLargestRequest > sizeof(typename S::value_type) * (consumed + 1))
    return "broken: allocated more than the input holds";
  if (consumed != s.serializationSize())
    return "broken: the cursor did not move by the form's size";
  std::unique_ptr<unsigned char[]> again(new unsigned char[consumed]);
  unsigned char* out = again.get();
  s.serialize(out, again.get() + consumed);
  if (out != again.get() + consumed || std::memcmp(again.get(), start, consumed) != 0)
    return "broken: writing back gave other bytes";
  return "";
}

// Reads forms into one string that held "prior" until a read is refused. Answers how
// many forms were read and what refused the last ("unreadable" or "invalid"), or the
// rule broken ("broken: ...").
template <typename S>
std::string ReadAll(const unsigned char* data, size_t size) {
  std::unique_ptr<unsigned char[]> input(new unsigned char[size]);
  if (size != 0) std::memcpy(input.get(), data, size);
  const unsigned char* in = input.get();
  const unsigned char* const end = in + size;
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
      ended = CheckRead(s, start, in, end);
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
