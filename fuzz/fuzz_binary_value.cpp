// The instrument's 4-byte binary number: every pattern decodes to a finite
// value whose text reads back as the same value to the five decimals shown.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_check.h"
#include "link/binary_value.h"

using namespace parlex2;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  unsigned char bytes[4] = {data[0], data[1], data[2], data[3]};
  std::string text;
  const double value = BinaryValueToText(bytes, &text);
  FUZZ_CHECK(std::isfinite(value));
  FUZZ_CHECK(BinaryValueToText(bytes, nullptr) == value);
  FUZZ_CHECK(text == FormatBinaryValue(value));
  // "d.dddddE[-]n": a mantissa, five decimals, an exponent without '+'.
  FUZZ_CHECK(!text.empty() && text.size() <= 16);
  FUZZ_CHECK(text.find('+') == std::string::npos);
  FUZZ_CHECK(text.find('E') != std::string::npos);
  char* end = nullptr;
  const double back = std::strtod(text.c_str(), &end);
  FUZZ_CHECK(end == text.c_str() + text.size());
  FUZZ_CHECK(std::fabs(back - value) <= std::fabs(value) * 1e-5);
  return 0;
}
