#include "qel/big_endian.h"

#include "qel/little_endian.h"
#include "qel/osdep/OutputAssertion.h"

namespace vo::qel::big_endian {

LittleEndianChecker::LittleEndianChecker() noexcept {
  if (!little_endian::detail::MachineIsLittleEndian()) {
    osdep::OutputAssertion("littleEndianTest.dw == 0x12345678", "", "big_endian", __LINE__);
  }
}

}  // namespace vo::qel::big_endian
