#include "qel/little_endian.h"

#include <cstring>

#include "qel/exception/Exception.h"
#include "qel/osdep/OutputAssertion.h"

namespace vo::qel::little_endian {
namespace {

const char kFileName[] = "little_endian";

}  // namespace

namespace detail {

void ThrowBufferOverflow() {
  throw AddFileAndLineInfo(exception::BufferOverflow(), kFileName, __LINE__);
}

void ThrowDeserializationError() {
  throw AddFileAndLineInfo(exception::DeserializationError(), kFileName, __LINE__);
}

bool MachineIsLittleEndian() noexcept {
  struct {
    unsigned char bytes[4];
    UInt32 dw;
  } littleEndianTest = {{0x78, 0x56, 0x34, 0x12}, 0};
  std::memcpy(&littleEndianTest.dw, littleEndianTest.bytes, sizeof(littleEndianTest.dw));
  return littleEndianTest.dw == 0x12345678;
}

}  // namespace detail

LittleEndianChecker::LittleEndianChecker() noexcept {
  if (!detail::MachineIsLittleEndian()) {
    osdep::OutputAssertion("littleEndianTest.dw == 0x12345678", "", kFileName, __LINE__);
  }
}

}  // namespace vo::qel::little_endian
