#include "flash.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "common/text.h"

namespace parlex2::sim {
namespace {

// "sector N erases M" and nothing after it; false for any other line, or for
// a number outside int.
bool ReadSectorHeading(const std::string& line, int& sector, int& erases) {
  std::istringstream in(line);
  std::string sectorWord, erasesWord, rest;
  return (in >> sectorWord >> sector >> erasesWord >> erases) && sectorWord == "sector" &&
         erasesWord == "erases" && !(in >> rest);
}

}  // namespace

void Flash::Erase(int sector) {
  Sector& s = sectors_.at(sector);
  ++s.erases;
  s.bytes.clear();
}

bool Flash::Program(int sector, std::uint32_t address, std::string_view data) {
  Sector& s = sectors_.at(sector);
  for (std::size_t i = 0; i < data.size(); ++i) {
    if (s.bytes.count(address + static_cast<std::uint32_t>(i))) return false;
  }
  for (std::size_t i = 0; i < data.size(); ++i) {
    s.bytes[address + static_cast<std::uint32_t>(i)] = static_cast<std::uint8_t>(data[i]);
  }
  return true;
}

std::string Flash::Dump() const {
  std::string out = "# parlex2-sim flash: erase count and programmed bytes of each sector\n";
  char text[64];
  for (int n = 0; n < kSectorCount; ++n) {
    const Sector& s = sectors_[n];
    std::snprintf(text, sizeof text, "sector %d erases %d\n", n, s.erases);
    out += text;
    std::uint32_t next = 0;
    int inLine = 0;
    for (auto [address, byte] : s.bytes) {
      if (inLine == 16 || (inLine > 0 && address != next)) {
        out += '\n';
        inLine = 0;
      }
      if (inLine == 0) {
        std::snprintf(text, sizeof text, "%08X:", static_cast<unsigned>(address));
        out += text;
      }
      std::snprintf(text, sizeof text, " %02X", static_cast<unsigned>(byte));
      out += text;
      ++inLine;
      next = address + 1;
    }
    if (inLine > 0) out += '\n';
  }
  return out;
}

std::optional<Flash> Flash::ParseDump(std::string_view text) {
  Flash flash;
  int current = -1;
  for (const std::string& line : SplitText(text, '\n')) {
    if (line.empty() || line[0] == '#') continue;
    int sector = 0;
    int erases = 0;
    if (ReadSectorHeading(line, sector, erases)) {
      if (sector < 0 || sector >= kSectorCount || erases < 0) return std::nullopt;
      current = sector;
      flash.sectors_[sector].erases = erases;
      continue;
    }
    if (current < 0) return std::nullopt;
    char* rest = nullptr;
    unsigned long address = std::strtoul(line.c_str(), &rest, 16);
    if (rest == line.c_str() || *rest != ':') return std::nullopt;
    ++rest;
    while (*rest) {
      char* after = nullptr;
      unsigned long byte = std::strtoul(rest, &after, 16);
      if (after == rest) break;
      if (byte > 0xFF) return std::nullopt;
      flash.sectors_[current].bytes[static_cast<std::uint32_t>(address++)] =
          static_cast<std::uint8_t>(byte);
      rest = after;
    }
    while (*rest == ' ') ++rest;
    if (*rest) return std::nullopt;
  }
  return flash;
}

bool Flash::operator==(const Flash& other) const { return sectors_ == other.sectors_; }

}  // namespace parlex2::sim
