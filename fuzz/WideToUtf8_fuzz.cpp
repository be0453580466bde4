// Encoding any wide text: the measuring, allocating, filling and stopping forms
// agree with the plain reference encoder and with each other, values above
// 0x7FFFFFFF become '?' with their failed-check reports, and text of values up to
// 0x7FFFFFFF decodes back unchanged. Input and destinations are heap blocks of
// exactly their size, so that AddressSanitizer catches any access outside them.
//
// Input: the first byte holds flags (low four bits 0001: allow values above
// 0x7FFFFFFF, kept rare because every one costs several reports; bits 4 and 5 clear:
// also measure with a limit that may cut the text; bits 6 and 7: which form runs
// when there are values out of range), then
// every four bytes make one element: the low three bits pick a byte form (so that
// all six forms are common), the other 29 bits the value within it.
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "fuzz/Utf8Reference.h"
#include "qel/Utf8ToWide.h"
#include "qel/WideToUtf8.h"
// The unit under test is compiled into this program, so that libFuzzer's coverage
// instrumentation, which only this program's own sources get, sees its branches;
// its definitions take the place of the library's copy at link time.
#include "qel/WideToUtf8.cpp"  // NOLINT(build/include)
#include "qel/exception/Exception.h"

using vo::qel::exception::BufferOverflow;

namespace {

constexpr size_t kMostOutOfRange = 1;  // each costs failed-check reports; keep runs fast

uint32_t ToElement(const uint8_t* b, bool allowOutOfRange, size_t& outOfRange) {
  static const uint32_t kFirst[7] = {0, 0, 0x80, 0x800, 0x10000, 0x200000, 0x4000000};
  static const uint32_t kSpan[7] = {0x80, 0x80, 0x780, 0xF800, 0x1F0000, 0x3E00000, 0x7C000000};
  const uint32_t raw =
      uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
  const uint32_t form = raw & 7;
  const uint32_t bits = raw >> 3;
  if (form < 7) return kFirst[form] + bits % kSpan[form];
  if (allowOutOfRange && outOfRange < kMostOutOfRange) {
    ++outOfRange;
    return 0x80000000u | bits;
  }
  return 0x7FFFFFFFu - (bits & 0x3F);  // the top of the six-byte form
}

std::vector<unsigned char> Encode(const wchar_t* begin, const wchar_t* end) {
  std::vector<unsigned char> out;
  for (const wchar_t* p = begin; p < end; ++p) fuzz::ReferenceAppend(uint32_t(*p), out);
  return out;
}

bool SameBytes(const unsigned char* got, const std::vector<unsigned char>& want, size_t n) {
  return n == 0 || std::memcmp(got, want.data(), n) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  fuzz::CountingPresenter& reports = fuzz::Reports();
  const bool allowOutOfRange = (data[0] & 0x0F) == 1;
  const size_t count = (size - 1) / 4;
  size_t outOfRange = 0;
  std::unique_ptr<wchar_t[]> input(new wchar_t[count == 0 ? 1 : count]);
  for (size_t i = 0; i < count; ++i) {
    input[i] = wchar_t(ToElement(data + 1 + 4 * i, allowOutOfRange, outOfRange));
  }
  const wchar_t* const begin = input.get();
  const wchar_t* const end = begin + count;
  const std::vector<unsigned char> ref = Encode(begin, end);
  const size_t k = outOfRange;
  std::optional<fuzz::QuietStandardError> quiet;
  if (k != 0) quiet.emplace();
  // With values out of range, every form reports; one form a run keeps runs fast.
  const unsigned only = k != 0 ? (data[0] >> 6) & 3 : 4;
  const auto runs = [only](unsigned form) { return only == 4 || only == form; };

  // Measuring: each value out of range is reported once.
  size_t before = reports.count;
  if (runs(0)) {
    FUZZ_CHECK(vo::qel::GetUtf8EncodingBytes(begin, end) == ref.size());
    FUZZ_CHECK(reports.count - before == k);
  }

  // Allocating: measured (one report each), then converted (two more each).
  if (runs(1)) {
    before = reports.count;
    std::unique_ptr<unsigned char[]> out(vo::qel::WideToUtf8(begin, end));
    FUZZ_CHECK(SameBytes(out.get(), ref, ref.size()) && out[ref.size()] == 0);
    FUZZ_CHECK(reports.count - before == 3 * k);
  }

  // Filling a destination of exactly the measured size.
  if (runs(2)) {
    const size_t room = ref.empty() ? 1 : ref.size();
    std::unique_ptr<unsigned char[]> dest(new unsigned char[room]);
    before = reports.count;
    const size_t written = vo::qel::WideToUtf8(begin, end, dest.get(), dest.get() + room);
    FUZZ_CHECK(written == ref.size() && SameBytes(dest.get(), ref, written));
    FUZZ_CHECK(reports.count - before == 2 * k);
  }

  // A smaller room: the stopping form converts the longest run of whole characters
  // that fits, the throwing form throws, and measuring with that limit agrees.
  if (runs(3)) {
    const size_t room = 1 + data[size / 2] % (ref.size() + 2);
    size_t fit = 0, fitBytes = 0, fitOutOfRange = 0;
    while (fit < count && fitBytes + fuzz::ReferenceLength(uint32_t(begin[fit])) <= room) {
      fitBytes += fuzz::ReferenceLength(uint32_t(begin[fit]));
      if (uint32_t(begin[fit]) > 0x7FFFFFFF) ++fitOutOfRange;
      ++fit;
    }
    std::unique_ptr<unsigned char[]> dest(new unsigned char[room]);
    const wchar_t* cursor = begin;
    before = reports.count;
    const size_t written =
        vo::qel::WideToUtf8NoOverflow(cursor, end, dest.get(), dest.get() + room);
    FUZZ_CHECK(written == fitBytes && cursor == begin + fit && SameBytes(dest.get(), ref, written));
    FUZZ_CHECK(reports.count - before == 2 * fitOutOfRange);

    bool overflowed = false;
    try {
      FUZZ_CHECK(vo::qel::WideToUtf8(begin, end, dest.get(), dest.get() + room) == fitBytes);
    } catch (const BufferOverflow&) {
      overflowed = true;
    }
    FUZZ_CHECK(overflowed == (fit < count));

    // Measuring with that limit: it also takes the length of the first character
    // left out (reporting it if out of range) before it reports the cut. Only in one
    // run of four, as the report of the cut is slow.
    if ((data[0] & 0x30) == 0) {
      if (fit < count && !quiet) quiet.emplace();
      before = reports.count;
      FUZZ_CHECK(vo::qel::GetUtf8EncodingBytesWithBufferLimit(begin, end, room) == fitBytes);
      const size_t cutReports = fit < count ? 1 + (uint32_t(begin[fit]) > 0x7FFFFFFF ? 1 : 0) : 0;
      FUZZ_CHECK(reports.count - before == fitOutOfRange + cutReports);
    }
  }

  // The zero-terminated forms stop at the first 0 element.
  if (runs(0)) {
    size_t length = 0;
    while (length < count && begin[length] != 0) ++length;
    std::unique_ptr<wchar_t[]> text(new wchar_t[length + 1]);
    std::memcpy(text.get(), begin, length * sizeof(wchar_t));
    text[length] = 0;
    const std::vector<unsigned char> want = Encode(begin, begin + length);
    FUZZ_CHECK(vo::qel::GetUtf8EncodingBytes(text.get()) == want.size());
    std::unique_ptr<unsigned char[]> out(vo::qel::WideToUtf8(text.get()));
    FUZZ_CHECK(SameBytes(out.get(), want, want.size()) && out[want.size()] == 0);
  }

  // Round trip for text without values out of range.
  if (k == 0) {
    std::unique_ptr<unsigned char[]> bytes(new unsigned char[ref.size() == 0 ? 1 : ref.size()]);
    if (!ref.empty()) std::memcpy(bytes.get(), ref.data(), ref.size());
    std::unique_ptr<wchar_t[]> back(vo::qel::Utf8ToWide(bytes.get(), ref.size()));
    FUZZ_CHECK(std::memcmp(back.get(), begin, count * sizeof(wchar_t)) == 0 && back[count] == 0);
  }
  return 0;
}
