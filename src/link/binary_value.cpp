#include "link/binary_value.h"

#include <cmath>
#include <cstdio>

namespace parlex2 {

double BinaryValueToText(const unsigned char bytes[4], std::string* text) {
  double value = 0.0;
  if (bytes[1] & 0x20) {
    int exponent = bytes[0] & 0x3F;
    if (bytes[0] & 0x40) exponent -= 64;
    long mantissa = (static_cast<long>(bytes[1] & 0x3F) << 14) |
                    (static_cast<long>(bytes[2] & 0x7F) << 7) | (bytes[3] & 0x7F);
    if (bytes[1] & 0x40) mantissa = -mantissa;
    value = std::ldexp(static_cast<double>(mantissa), exponent - 20);
  }
  if (text) *text = FormatBinaryValue(value);
  return value;
}

std::string FormatBinaryValue(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*E", 5, value);
  std::string text(buffer);
  auto e = text.find('E');
  if (e == std::string::npos) return text;  // inf or nan
  std::size_t at = e + 1;
  if (at < text.size() && text[at] == '+') {
    text.erase(at, 1);
  } else if (at < text.size() && text[at] == '-') {
    ++at;
  }
  if (at < text.size() && text[at] == '0') text.erase(at, 1);
  return text;
}

}  // namespace parlex2
