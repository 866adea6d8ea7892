// Intel HEX records as the boot loader receives them and as firmware files
// hold them: ":LLAAAATT<data>CC", every field in hexadecimal, the checksum
// making the sum of all record bytes zero.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace parlex2::sim {

enum class HexRecordType : std::uint8_t {
  kData = 0x00,
  kEndOfFile = 0x01,
  kExtendedSegmentAddress = 0x02,
  kStartSegmentAddress = 0x03,
  kExtendedLinearAddress = 0x04,
  kStartLinearAddress = 0x05,
};

struct HexRecord {
  std::uint8_t type = 0;
  std::uint16_t offset = 0;
  std::string data;  // the data bytes, raw
};

enum class HexError {
  kNone,
  kNoColon,           // the line does not begin with ':'
  kBadDigit,          // a character that is not a hexadecimal digit, or an odd count
  kBadLength,         // the length field disagrees with the bytes present
  kBadChecksum,       // the bytes do not sum to zero
  kBadType,           // a record type the loader does not know
  kBadAddressRecord,  // an extended or start address record with the wrong length
};

// A short text for `error`, as the boot loader puts it in its refusal.
const char* HexErrorText(HexError error);

// Parses one record line without its line end. Upper and lower case digits are
// both read. Null with `error` set when the line is not a valid record.
std::optional<HexRecord> ParseHexRecord(std::string_view line, HexError* error = nullptr);

// Builds a record line (without line end) with its checksum; tests write
// firmware files and malformed records from it.
std::string MakeHexRecord(std::uint8_t type, std::uint16_t offset, std::string_view data);

// The upper address bits set by extended address records; data records add
// their offset to it.
class HexAddressBase {
 public:
  // Takes an extended segment or linear address record (others are ignored).
  void Apply(const HexRecord& record);
  std::uint32_t AddressOf(const HexRecord& record, std::size_t index) const {
    return base_ + record.offset + static_cast<std::uint32_t>(index);
  }

 private:
  std::uint32_t base_ = 0;
};

// The bytes a firmware file's records put at each address. Lines that do not
// begin with ':' are passed over, as the upgrade passes them over. False (with
// the line number in `badLine`, counted from 1) at the first malformed record.
bool HexFileImage(std::string_view fileText, std::map<std::uint32_t, std::uint8_t>& image,
                  int* badLine = nullptr);

}  // namespace parlex2::sim
