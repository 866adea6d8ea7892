// The instrument's 4-byte binary number, which some replies carry in place of
// text. Byte 0 has bit 7 set (that is how a value is recognised) and a 7-bit
// two's complement exponent; bytes 1..3 carry the sign and a 20-bit mantissa
// whose top bit marks a non-zero value.
#pragma once

#include <string>

namespace parlex2 {

// Decodes the four bytes at `bytes`; when `text` is given also writes the
// value's text ("%.5E" with '+' and one leading exponent zero removed:
// 928 -> "9.28000E2", 0.00001 -> "1.00000E-5").
double BinaryValueToText(const unsigned char bytes[4], std::string* text);

// The same text for a value already decoded.
std::string FormatBinaryValue(double value);

}  // namespace parlex2
