// Intel HEX records and firmware files as the simulated boot loader reads
// them.
//
// Properties: a record that parses is rebuilt digit for digit (in capitals) by
// MakeHexRecord; a record MakeHexRecord builds always parses back to itself; a
// file that is refused names a line that exists.
#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <cstdint>
#include <map>
#include <string>

#include "fuzz_check.h"
#include "sim/intel_hex.h"

using namespace parlex2::sim;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  HexError error = HexError::kNone;
  const std::optional<HexRecord> record = ParseHexRecord(text, &error);
  if (record) {
    FUZZ_CHECK(error == HexError::kNone);
    FUZZ_CHECK(record->data.size() <= 255);
    std::string upper(text);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    FUZZ_CHECK(MakeHexRecord(record->type, record->offset, record->data) == upper);
  } else {
    FUZZ_CHECK(error != HexError::kNone && HexErrorText(error) != nullptr);
  }

  // A record built from the input's bytes reads back as itself.
  if (size >= 3) {
    const std::uint8_t type = data[0] % 6;
    const std::uint16_t offset = static_cast<std::uint16_t>(data[1] << 8 | data[2]);
    const std::string payload(text.substr(3, 255));
    const std::string line = MakeHexRecord(type, offset, payload);
    HexError made = HexError::kNone;
    const std::optional<HexRecord> back = ParseHexRecord(line, &made);
    if (back) {
      FUZZ_CHECK(back->type == type && back->offset == offset && back->data == payload);
    } else {
      FUZZ_CHECK(made == HexError::kBadAddressRecord);  // address records have fixed lengths
    }
  }

  std::map<std::uint32_t, std::uint8_t> image;
  int badLine = 0;
  if (!HexFileImage(text, image, &badLine)) {
    std::size_t lines = 1;
    for (char c : text) lines += c == '\n';
    FUZZ_CHECK(badLine >= 1 && static_cast<std::size_t>(badLine) <= lines);
  }
  return 0;
}
