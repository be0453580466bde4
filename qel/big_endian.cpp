#include "qel/big_endian.h"

#include <cstring>

#include "qel/osdep/OutputAssertion.h"

namespace vo::qel::big_endian {

LittleEndianChecker::LittleEndianChecker() noexcept {
  // The bytes of 0x12345678 in little-endian order, read back as one word.
  struct {
    unsigned char bytes[4];
    UInt32 dw;
  } littleEndianTest = {{0x78, 0x56, 0x34, 0x12}, 0};
  std::memcpy(&littleEndianTest.dw, littleEndianTest.bytes, sizeof(littleEndianTest.dw));
  if (littleEndianTest.dw != 0x12345678) {
    osdep::OutputAssertion("littleEndianTest.dw == 0x12345678", "", "big_endian", __LINE__);
  }
}

}  // namespace vo::qel::big_endian
