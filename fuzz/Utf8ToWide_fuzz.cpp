// Decoding any bytes: either every decoding form agrees with the plain reference
// decoder, or every one of them throws InvalidSequence. The input is copied into a
// heap block of exactly its size, and destinations are exact too, so that
// AddressSanitizer catches any read or write outside the given ranges.
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz/Utf8Reference.h"
#include "qel/Utf8ToWide.h"
// The unit under test is compiled into this program, so that libFuzzer's coverage
// instrumentation, which only this program's own sources get, sees its branches;
// its definitions take the place of the library's copy at link time.
#include "qel/Utf8ToWide.cpp"  // NOLINT(build/include)
#include "qel/WideToUtf8.h"
#include "qel/exception/Exception.h"

using vo::qel::exception::InvalidSequence;

namespace {

bool SameValues(const wchar_t* got, const std::vector<uint32_t>& want, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (uint32_t(got[i]) != want[i]) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::CountingPresenter& reports = fuzz::Reports();
  const size_t reportsBefore = reports.count;

  std::unique_ptr<unsigned char[]> input(new unsigned char[size]);
  if (size != 0) std::memcpy(input.get(), data, size);
  const unsigned char* const begin = input.get();
  const unsigned char* const end = begin + size;
  const fuzz::Decoded ref = fuzz::ReferenceDecode(begin, size);
  const size_t n = ref.values.size();  // whole characters before any invalid one

  // Counting.
  try {
    const size_t count = vo::qel::GetUtf8StringLength(begin, end);
    FUZZ_CHECK(ref.valid && count == n);
  } catch (const InvalidSequence&) {
    FUZZ_CHECK(!ref.valid);
  }

  // Allocating.
  try {
    std::unique_ptr<wchar_t[]> wide(vo::qel::Utf8ToWide(begin, size));
    FUZZ_CHECK(ref.valid);
    FUZZ_CHECK(SameValues(wide.get(), ref.values, n) && wide[n] == 0);
  } catch (const InvalidSequence&) {
    FUZZ_CHECK(!ref.valid);
  }

  // Filling a destination of exactly the needed size, one more for invalid text so
  // that conversion reaches the invalid sequence (a full destination stops first).
  {
    const size_t room = n + (ref.valid && n != 0 ? 0 : 1);
    std::unique_ptr<wchar_t[]> dest(new wchar_t[room]);
    try {
      const size_t written = vo::qel::Utf8ToWide(begin, end, dest.get(), dest.get() + room);
      FUZZ_CHECK(ref.valid && written == n && SameValues(dest.get(), ref.values, n));
    } catch (const InvalidSequence&) {
      FUZZ_CHECK(!ref.valid && SameValues(dest.get(), ref.values, n));
    }
  }

  // Stopping when a smaller destination is full: the size comes from the input.
  {
    const size_t room = 1 + (size == 0 ? 0 : data[size / 2] % (n + 2));
    std::unique_ptr<wchar_t[]> dest(new wchar_t[room]);
    const unsigned char* cursor = begin;
    const bool throws = !ref.valid && room > n;
    const size_t expected = room < n ? room : n;
    const unsigned char* const stop = expected < n ? begin + ref.offsets[expected]
                                      : ref.valid  ? end
                                                   : begin + ref.invalidAt;
    try {
      const size_t written =
          vo::qel::Utf8ToWideNoOverflow(cursor, end, dest.get(), dest.get() + room);
      FUZZ_CHECK(!throws && written == expected && cursor == stop);
      FUZZ_CHECK(SameValues(dest.get(), ref.values, written));
    } catch (const InvalidSequence&) {
      FUZZ_CHECK(throws && cursor == stop && SameValues(dest.get(), ref.values, n));
    }
  }

  // Stepping one character at a time.
  {
    const unsigned char* p = begin;
    size_t i = 0;
    try {
      wchar_t c = 1;
      while (true) {
        const unsigned char* next = vo::qel::ConvertNextUtf8Character(p, end, c);
        if (next == p) break;
        FUZZ_CHECK(i < n && p == begin + ref.offsets[i] && uint32_t(c) == ref.values[i]);
        p = next;
        ++i;
      }
      FUZZ_CHECK(ref.valid && i == n && p == end && c == 0);
    } catch (const InvalidSequence&) {
      FUZZ_CHECK(!ref.valid && i == n && p == begin + ref.invalidAt);
    }
  }

  // Valid text encodes back to the same bytes: overlong forms being invalid, each
  // code point has exactly one form.
  if (ref.valid) {
    std::vector<wchar_t> wide(ref.values.begin(), ref.values.end());
    std::unique_ptr<unsigned char[]> back(
        vo::qel::WideToUtf8(wide.data(), wide.data() + wide.size()));
    FUZZ_CHECK(std::memcmp(back.get(), begin, size) == 0 && back[size] == 0);
  }

  FUZZ_CHECK(reports.count == reportsBefore);
  return 0;
}
