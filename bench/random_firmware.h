// A firmware file for the benchmarks: an extended address record, `records`
// data records of `recordBytes` bytes drawn from `seed` at consecutive
// addresses, and the end record.
#pragma once

#include <cstdint>
#include <random>
#include <string>

#include "sim/intel_hex.h"

namespace parlex2::bench {

inline std::string RandomHexFile(std::uint32_t seed, int records, int recordBytes) {
  std::mt19937 random(seed);
  std::string text = sim::MakeHexRecord(4, 0, std::string("\x00\x01", 2)) + "\n";
  for (int i = 0; i < records; ++i) {
    std::string data;
    for (int j = 0; j < recordBytes; ++j) data.push_back(static_cast<char>(random()));
    text += sim::MakeHexRecord(0, static_cast<std::uint16_t>(recordBytes * i), data) + "\n";
  }
  return text + sim::MakeHexRecord(1, 0, "") + "\n";
}

}  // namespace parlex2::bench
