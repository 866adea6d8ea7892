#include "binary_encode.h"

#include <cmath>

namespace parlex2::sim {

std::string EncodeBinaryValue(double value) {
  std::string bytes(4, '\0');
  bytes[0] = static_cast<char>(0x80);
  if (value == 0.0 || !std::isfinite(value)) return bytes;
  bool negative = value < 0;
  int exponent = 0;
  double fraction = std::frexp(std::fabs(value), &exponent);  // [0.5, 1)
  long mantissa = std::lround(std::ldexp(fraction, 20));
  if (mantissa >= (1L << 20)) {
    mantissa >>= 1;
    ++exponent;
  }
  if (exponent < -64) return bytes;
  if (exponent > 63) {
    exponent = 63;
    mantissa = (1L << 20) - 1;
  }
  bytes[0] = static_cast<char>(0x80 | (exponent & 0x7F));
  bytes[1] = static_cast<char>((negative ? 0x40 : 0) | ((mantissa >> 14) & 0x3F));
  bytes[2] = static_cast<char>((mantissa >> 7) & 0x7F);
  bytes[3] = static_cast<char>(mantissa & 0x7F);
  return bytes;
}

}  // namespace parlex2::sim
