// The instrument's side of its 4-byte binary number: encoding a value the way
// the program's decoder reads it (marker and 7-bit exponent in byte 0, sign and
// the 20-bit mantissa, top bit set, in bytes 1 to 3).
#pragma once

#include <string>

namespace parlex2::sim {

// The four bytes of `value`. Zero gives 80 00 00 00; magnitudes beyond the
// exponent range saturate at the largest value or become zero.
std::string EncodeBinaryValue(double value);

}  // namespace parlex2::sim
