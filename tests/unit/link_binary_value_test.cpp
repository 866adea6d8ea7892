#include <gtest/gtest.h>

#include <cmath>

#include "link/binary_value.h"

namespace parlex2 {
namespace {

struct Example {
  unsigned char bytes[4];
  double value;
  const char* text;
};

TEST(BinaryValueToText, DecodesTheInstrumentsExamples) {
  const Example examples[] = {
      {{0x81, 0x60, 0x80, 0x80}, -1.0, "-1.00000E0"},
      {{0x80, 0x20, 0x80, 0x80}, 0.5, "5.00000E-1"},
      {{0x8A, 0x3A, 0x80, 0x80}, 928.0, "9.28000E2"},
      {{0xC0, 0x20, 0x00, 0x00}, std::ldexp(1.0, -65), "2.71051E-20"},
      {{0x80, 0x00, 0x00, 0x00}, 0.0, "0.00000E0"},
      {{0xBF, 0x3F, 0xFF, 0xFF}, std::ldexp(1.0 - std::ldexp(1.0, -20), 63), "9.22336E18"},
      {{0xBF, 0x5F, 0x7F, 0x7F}, 0.0, "0.00000E0"},  // zero whenever the non-zero bit is clear
  };
  for (const auto& e : examples) {
    std::string text;
    EXPECT_DOUBLE_EQ(BinaryValueToText(e.bytes, &text), e.value) << e.text;
    EXPECT_EQ(text, e.text);
    EXPECT_DOUBLE_EQ(BinaryValueToText(e.bytes, nullptr), e.value) << e.text;
  }
}

TEST(FormatBinaryValue, DropsThePlusSignAndOneLeadingExponentZero) {
  EXPECT_EQ(FormatBinaryValue(123.45), "1.23450E2");
  EXPECT_EQ(FormatBinaryValue(0.00001), "1.00000E-5");
  EXPECT_EQ(FormatBinaryValue(1.5e12), "1.50000E12");
  EXPECT_EQ(FormatBinaryValue(1e100), "1.00000E100");
  EXPECT_EQ(FormatBinaryValue(-2.5e-100), "-2.50000E-100");
}

}  // namespace
}  // namespace parlex2
