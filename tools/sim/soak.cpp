#include "soak.h"

#include <cmath>
#include <cstdio>

#include "binary_encode.h"

namespace parlex2::sim {

std::uint32_t SoakHash(std::string_view text) {
  std::uint32_t hash = 2166136261u;
  for (char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 16777619u;
  }
  return hash;
}

double SoakValue(std::uint64_t n) {
  // The 20-bit mantissa is built so that none of its three 7-bit groups is a
  // zero byte, CR or LF (each group is 0x20 or more); any such byte would end
  // the line at the reader, as it does for the real instrument's values.
  const long top = 0x20 | static_cast<long>(n % 32);        // bit 19 set: a normalised value
  const long middle = 0x20 + static_cast<long>(n % 90);     // 0x20 .. 0x79
  const long low = 0x21 + static_cast<long>((n * 7) % 90);  // 0x21 .. 0x7A
  const long mantissa = (top << 14) | (middle << 7) | low;
  const int exponent = static_cast<int>(n % 16) - 4;
  const double value = std::ldexp(static_cast<double>(mantissa), exponent - 20);
  return n % 3 == 0 ? -value : value;
}

namespace {

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", value);
  return text;
}

}  // namespace

std::string SoakLine(std::uint64_t n) {
  const std::string number = std::to_string(n);
  if (n % 4 == 0) {
    std::string head = "b," + number;
    return head + "," + EncodeBinaryValue(SoakValue(n)) + "," + Hex(SoakHash(head)) + "\r\n";
  }
  std::string text = "t," + number + ",";
  for (std::uint64_t i = 0; i < n % 61; ++i) text += static_cast<char>('A' + (n + i) % 26);
  return text + "," + Hex(SoakHash(text)) + "\r\n";
}

void SoakStream::Fill(std::string& out, std::size_t fill) {
  while (active_ && out.size() < fill) {
    if (sent_ >= target_) {
      out += "end," + std::to_string(lines_) + "," + std::to_string(sent_) + "\r\n";
      active_ = false;
      break;
    }
    std::string line = SoakLine(++lines_);
    sent_ += line.size();
    out += line;
  }
}

}  // namespace parlex2::sim
