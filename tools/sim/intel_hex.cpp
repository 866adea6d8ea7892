#include "intel_hex.h"

#include <cstdio>

namespace parlex2::sim {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

const char* HexErrorText(HexError error) {
  switch (error) {
    case HexError::kNone:
      return "no error";
    case HexError::kNoColon:
      return "not a record";
    case HexError::kBadDigit:
      return "bad digit";
    case HexError::kBadLength:
      return "bad length";
    case HexError::kBadChecksum:
      return "checksum error";
    case HexError::kBadType:
      return "bad record type";
    case HexError::kBadAddressRecord:
      return "bad address record";
  }
  return "error";
}

std::optional<HexRecord> ParseHexRecord(std::string_view line, HexError* error) {
  auto fail = [&](HexError why) -> std::optional<HexRecord> {
    if (error) *error = why;
    return std::nullopt;
  };
  if (line.empty() || line[0] != ':') return fail(HexError::kNoColon);
  std::string_view digits = line.substr(1);
  if (digits.size() % 2 != 0) return fail(HexError::kBadDigit);
  std::string bytes;
  bytes.reserve(digits.size() / 2);
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    int high = HexDigit(digits[i]);
    int low = HexDigit(digits[i + 1]);
    if (high < 0 || low < 0) return fail(HexError::kBadDigit);
    bytes.push_back(static_cast<char>(high * 16 + low));
  }
  // Length, two offset bytes, type and checksum at the least.
  if (bytes.size() < 5) return fail(HexError::kBadLength);
  auto byteAt = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
  if (bytes.size() != 5u + byteAt(0)) return fail(HexError::kBadLength);
  std::uint8_t sum = 0;
  for (char b : bytes) sum = static_cast<std::uint8_t>(sum + static_cast<std::uint8_t>(b));
  if (sum != 0) return fail(HexError::kBadChecksum);

  HexRecord record;
  record.offset = static_cast<std::uint16_t>(byteAt(1) << 8 | byteAt(2));
  record.type = byteAt(3);
  record.data = bytes.substr(4, byteAt(0));
  switch (static_cast<HexRecordType>(record.type)) {
    case HexRecordType::kData:
      break;
    case HexRecordType::kEndOfFile:
      if (!record.data.empty()) return fail(HexError::kBadAddressRecord);
      break;
    case HexRecordType::kExtendedSegmentAddress:
    case HexRecordType::kExtendedLinearAddress:
      if (record.data.size() != 2) return fail(HexError::kBadAddressRecord);
      break;
    case HexRecordType::kStartSegmentAddress:
    case HexRecordType::kStartLinearAddress:
      if (record.data.size() != 4) return fail(HexError::kBadAddressRecord);
      break;
    default:
      return fail(HexError::kBadType);
  }
  if (error) *error = HexError::kNone;
  return record;
}

std::string MakeHexRecord(std::uint8_t type, std::uint16_t offset, std::string_view data) {
  std::string bytes;
  bytes.push_back(static_cast<char>(data.size() & 0xFF));
  bytes.push_back(static_cast<char>(offset >> 8));
  bytes.push_back(static_cast<char>(offset & 0xFF));
  bytes.push_back(static_cast<char>(type));
  bytes.append(data);
  std::uint8_t sum = 0;
  for (char b : bytes) sum = static_cast<std::uint8_t>(sum + static_cast<std::uint8_t>(b));
  bytes.push_back(static_cast<char>(static_cast<std::uint8_t>(-sum)));
  std::string line = ":";
  char hex[3];
  for (char b : bytes) {
    std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned>(static_cast<std::uint8_t>(b)));
    line += hex;
  }
  return line;
}

void HexAddressBase::Apply(const HexRecord& record) {
  if (record.data.size() != 2) return;
  std::uint32_t value =
      static_cast<std::uint8_t>(record.data[0]) << 8 | static_cast<std::uint8_t>(record.data[1]);
  if (record.type == static_cast<std::uint8_t>(HexRecordType::kExtendedSegmentAddress)) {
    base_ = value << 4;
  } else if (record.type == static_cast<std::uint8_t>(HexRecordType::kExtendedLinearAddress)) {
    base_ = value << 16;
  }
}

bool HexFileImage(std::string_view fileText, std::map<std::uint32_t, std::uint8_t>& image,
                  int* badLine) {
  HexAddressBase base;
  int lineNumber = 0;
  std::size_t start = 0;
  while (start < fileText.size()) {
    std::size_t end = fileText.find('\n', start);
    if (end == std::string_view::npos) end = fileText.size();
    std::string_view line = fileText.substr(start, end - start);
    start = end + 1;
    ++lineNumber;
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    if (line.empty() || line[0] != ':') continue;
    auto record = ParseHexRecord(line);
    if (!record) {
      if (badLine) *badLine = lineNumber;
      return false;
    }
    if (record->type == static_cast<std::uint8_t>(HexRecordType::kData)) {
      for (std::size_t i = 0; i < record->data.size(); ++i) {
        image[base.AddressOf(*record, i)] = static_cast<std::uint8_t>(record->data[i]);
      }
    } else {
      base.Apply(*record);
    }
  }
  return true;
}

}  // namespace parlex2::sim
