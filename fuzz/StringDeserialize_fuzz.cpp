// Reads every string kind from arbitrary bytes, form after form on one cursor, and
// checks the reading rules:
//  1. A read either succeeds, moving the cursor by exactly serializationSize() bytes,
//     and writing the string back gives exactly the bytes it consumed;
//  2. or it throws DeserializationError (InvalidSequence for String) with the cursor
//     and the string left as they were.
//  3. Nothing outside the input is read: the input is copied into a heap block of
//     exactly its size, so AddressSanitizer sees any stray read.
//  4. No string allocation is larger than the bytes consumed can justify: one
//     element per payload byte plus the terminator.
// Any failed-check report aborts, so an inconsistency inside the library is a crash.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fuzz/FuzzChecks.h"
#include "qel/DLLAlloc.h"
#include "qel/StringBase.h"
#include "qel/exception/Exception.h"

namespace {

using namespace vo::qel;
using fuzz::Require;

size_t gLargestRequest = 0;

void* RecordingMalloc(size_t size) {
  if (size > gLargestRequest) gLargestRequest = size;
  return std::malloc(size);
}

void* RecordingRealloc(void* pointer, size_t size) {
  if (size > gLargestRequest) gLargestRequest = size;
  return std::realloc(pointer, size);
}

template <typename S>
bool SameText(const S& a, const S& b) {
  return a.length() == b.length() &&
         std::memcmp(a.c_str(), b.c_str(), a.length() * sizeof(typename S::value_type)) == 0;
}

template <typename S>
void ReadAll(const unsigned char* begin, const unsigned char* end) {
  static const typename S::value_type kPrior[] = {'p', 'r', 'i', 'o', 'r', 0};
  S s(kPrior);
  const unsigned char* in = begin;
  for (;;) {
    const S before(s);
    const unsigned char* start = in;
    gLargestRequest = 0;
    try {
      s.deserialize(in, end);
    } catch (const exception::DeserializationError&) {
      Require(in == start && SameText(s, before), "a refused read changed something");
      return;
    } catch (const exception::InvalidSequence&) {
      Require(sizeof(typename S::value_type) == sizeof(wchar_t), "only String decodes UTF-8");
      Require(in == start && SameText(s, before), "a refused read changed something");
      return;
    }
    const size_t consumed = static_cast<size_t>(in - start);
    Require(consumed >= 4 && consumed <= static_cast<size_t>(end - start),
            "the cursor left the input");
    Require(gLargestRequest <= sizeof(typename S::value_type) * (consumed + 1),
            "allocated more than the input holds");
    Require(consumed == s.serializationSize(), "the cursor did not move by the form's size");

    std::unique_ptr<unsigned char[]> again(new unsigned char[consumed]);
    unsigned char* out = again.get();
    s.serialize(out, again.get() + consumed);
    Require(out == again.get() + consumed, "writing did not fill the form");
    Require(std::memcmp(again.get(), start, consumed) == 0, "writing back gave other bytes");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::AbortOnFailedChecks();
  static const bool installed =
      (detail::ReplaceAllocFunctions({RecordingMalloc, RecordingRealloc}), true);
  (void)installed;

  std::unique_ptr<unsigned char[]> input(new unsigned char[size]);
  if (size != 0) std::memcpy(input.get(), data, size);
  const unsigned char* begin = input.get();
  const unsigned char* end = begin + size;

  ReadAll<String>(begin, end);
  ReadAll<ANSIString>(begin, end);
  ReadAll<ASCIIString>(begin, end);
  ReadAll<Utf8String>(begin, end);
  return 0;
}
