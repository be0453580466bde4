// Bounds-checked writing and reading of little-endian values through a byte cursor:
// the primitives behind the serialized forms of strings and byte buffers, and the
// conversions of a 32-bit value to and from little-endian byte order.
//
// Stateless; any thread may call them on its own cursor and bytes.
//
// Cursor rules, shared by every function that takes one:
//  1. Writing takes `unsigned char*& out` and the end of the room `outEnd`; reading
//     takes `const unsigned char*& in` and the end of the input `inEnd`.
//  2. A function first checks that the whole of what it will touch lies between the
//     cursor and the end; if not, it throws (BufferOverflow when writing,
//     DeserializationError when reading) before touching anything, and the cursor
//     stays where it was.
//  3. On success the cursor moves exactly past what was written or read.
//
// The library runs only on little-endian machines. Every source file that includes
// this header checks that once when the library loads (LittleEndianChecker below) and
// reports a failed check otherwise.
#ifndef QEL_LITTLE_ENDIAN_H_
#define QEL_LITTLE_ENDIAN_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "qel/IntegerTypes.h"

namespace vo::qel::little_endian {

namespace detail {

[[noreturn]] void ThrowBufferOverflow();
[[noreturn]] void ThrowDeserializationError();

// True when first <= last and at least `size` bytes lie between them. Compared as
// addresses, so a cursor that was moved past its end is caught rather than wrapped.
inline bool HasRoom(size_t size, const unsigned char* first, const unsigned char* last) noexcept {
  const uintptr_t begin = reinterpret_cast<uintptr_t>(first);
  const uintptr_t end = reinterpret_cast<uintptr_t>(last);
  return begin <= end && end - begin >= size;
}

// True when the machine stores 0x12345678 as the bytes 78 56 34 12; what the byte-order
// units' load-time checkers test.
bool MachineIsLittleEndian() noexcept;

}  // namespace detail

// Passes when out <= outEnd and outEnd - out >= size; throws BufferOverflow otherwise.
inline void CheckSerializationSize(size_t size, const unsigned char* out,
                                   const unsigned char* outEnd) {
  if (!detail::HasRoom(size, out, outEnd)) detail::ThrowBufferOverflow();
}

// Passes when in <= inEnd and inEnd - in >= size; throws DeserializationError otherwise.
inline void CheckDeserializationSize(size_t size, const unsigned char* in,
                                     const unsigned char* inEnd) {
  if (!detail::HasRoom(size, in, inEnd)) detail::ThrowDeserializationError();
}

// Writes the integer `value` in sizeof(T) bytes, least significant first.
template <typename T>
void Serialize(const T& value, unsigned char*& out, const unsigned char* outEnd) {
  static_assert(std::is_integral<T>::value, "only integers have a little-endian form");
  CheckSerializationSize(sizeof(T), out, outEnd);
  typedef typename std::make_unsigned<T>::type Bits;
  const Bits bits = static_cast<Bits>(value);
  for (size_t i = 0; i < sizeof(T); ++i) {
    out[i] = static_cast<unsigned char>(bits >> (8 * i));
  }
  out += sizeof(T);
}

// Writes `value` as the machine holds it, which on the machines the library runs on
// is the little-endian form.
template <typename T>
void SerializeRaw(const T& value, unsigned char*& out, const unsigned char* outEnd) {
  static_assert(std::is_trivially_copyable<T>::value, "only plain values are copied raw");
  CheckSerializationSize(sizeof(T), out, outEnd);
  std::memcpy(out, &value, sizeof(T));
  out += sizeof(T);
}

// Reads an integer stored in sizeof(T) bytes, least significant first.
template <typename T>
void Deserialize(T& value, const unsigned char*& in, const unsigned char* inEnd) {
  static_assert(std::is_integral<T>::value, "only integers have a little-endian form");
  CheckDeserializationSize(sizeof(T), in, inEnd);
  typedef typename std::make_unsigned<T>::type Bits;
  Bits bits = 0;
  for (size_t i = 0; i < sizeof(T); ++i) {
    bits = static_cast<Bits>(bits | static_cast<Bits>(Bits(in[i]) << (8 * i)));
  }
  value = static_cast<T>(bits);
  in += sizeof(T);
}

// Reads a value stored as the machine holds it.
template <typename T>
void DeserializeRaw(T& value, const unsigned char*& in, const unsigned char* inEnd) {
  static_assert(std::is_trivially_copyable<T>::value, "only plain values are copied raw");
  CheckDeserializationSize(sizeof(T), in, inEnd);
  std::memcpy(&value, in, sizeof(T));
  in += sizeof(T);
}

// Copies `count` bytes from `source` to the cursor.
// REQUIRES: source is non-null when count > 0, and does not overlap the room.
inline void SerializeByteArray(const void* source, size_t count, unsigned char*& out,
                               const unsigned char* outEnd) {
  CheckSerializationSize(count, out, outEnd);
  if (count != 0) std::memcpy(out, source, count);
  out += count;
}

// Copies `count` bytes from the cursor to `destination`.
// REQUIRES: destination is non-null when count > 0, and does not overlap the input.
inline void DeserializeByteArray(void* destination, size_t count, const unsigned char*& in,
                                 const unsigned char* inEnd) {
  CheckDeserializationSize(count, in, inEnd);
  if (count != 0) std::memcpy(destination, in, count);
  in += count;
}

// A 32-bit value in little-endian byte order and back: stored as it comes back, its
// bytes are the least significant first. On the machines the library runs on, that
// is the value itself.
inline UInt32 ToLittleEndian(UInt32 value) noexcept { return value; }
inline UInt32 FromLittleEndian(UInt32 value) noexcept { return value; }

// Reports the failed check "littleEndianTest.dw == 0x12345678" when the machine does
// not store the least significant byte of a word first.
class LittleEndianChecker {
 public:
  LittleEndianChecker() noexcept;
};

// One check per source file that includes this header, run when the library loads.
static const LittleEndianChecker gLittleEndianChecker;

}  // namespace vo::qel::little_endian

#endif  // QEL_LITTLE_ENDIAN_H_
