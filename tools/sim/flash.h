// The instrument's flash as the boot loader sees it: sectors 0 to 14 (those
// with an access code), each erased some number of times and holding the
// bytes programmed into it by address since its last erase. The flash starts
// blank: every location may be programmed once before the first erase.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace parlex2::sim {

class Flash {
 public:
  static constexpr int kSectorCount = 15;

  struct Sector {
    int erases = 0;
    std::map<std::uint32_t, std::uint8_t> bytes;  // programmed since the last erase
  };

  // Forgets what the sector held; its locations may be programmed again.
  void Erase(int sector);

  // Programs `data` at `address` upwards. Nothing is written, and false is
  // returned, when any of the locations was already programmed since the
  // sector's last erase (flash bits cannot be set back without an erase).
  bool Program(int sector, std::uint32_t address, std::string_view data);

  const Sector& At(int sector) const { return sectors_.at(sector); }

  // The dump written to the --flash file: a comment line, then for every
  // sector "sector N erases E" followed by its programmed bytes as lines of
  // "AAAAAAAA: BB BB ..." (address in hexadecimal, at most 16 consecutive bytes
  // a line).
  std::string Dump() const;

  // Reads a dump back. Null when the text is not a dump.
  static std::optional<Flash> ParseDump(std::string_view text);

  bool operator==(const Flash& other) const;

 private:
  std::vector<Sector> sectors_ = std::vector<Sector>(kSectorCount);
};

inline bool operator==(const Flash::Sector& a, const Flash::Sector& b) {
  return a.erases == b.erases && a.bytes == b.bytes;
}

}  // namespace parlex2::sim
