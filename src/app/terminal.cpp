#include "app/terminal.h"

#include "link/binary_value.h"
#include "link/instrument_link.h"

namespace parlex2 {

std::string TypedCommandBytes(std::string_view text) {
  if (text.size() >= 2 && text[0] == '^') {
    char second = text[1];
    if (second >= 'a' && second <= 'z') second = static_cast<char>(second - 'a' + 'A');
    if ((second >= 'A' && second <= 'Z') || second == '[') {
      return std::string(1, static_cast<char>(second - 0x40)) + "\n";
    }
  }
  std::string command(text);
  command += '\n';
  return command;
}

bool SendTypedCommand(InstrumentLink& link, std::string_view text) {
  const std::string command = TypedCommandBytes(text);
  return link.Write(command) != TransportStatus::Ok;
}

bool ReceivedLineAssembler::Feed(unsigned char byte, bool convertBinary, Line& line) {
  const bool lineEnd = byte == '\n' || byte == '\r' || byte == 0;
  if (!lineEnd && buffer_.size() < kLineLimit) buffer_.push_back(static_cast<char>(byte));
  if (!lineEnd && buffer_.size() < kLineLimit) return false;
  line.rawLength = buffer_.size();
  line.raw.swap(buffer_);  // the two buffers take turns, so neither is allocated again
  buffer_.clear();
  line.text = line.raw.empty() ? std::string() : Convert(line.raw, convertBinary);
  return true;
}

std::string ReceivedLineAssembler::Convert(std::string_view raw, bool convertBinary) {
  if (!convertBinary) return std::string(raw);
  std::string out;
  out.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size();) {
    auto byte = static_cast<unsigned char>(raw[i]);
    if (byte < 0x80) {
      out.push_back(raw[i++]);
      continue;
    }
    unsigned char value[4] = {byte, 0, 0, 0};
    for (std::size_t k = 1; k < 4 && i + k < raw.size(); ++k) {
      value[k] = static_cast<unsigned char>(raw[i + k]);
    }
    std::string text;
    BinaryValueToText(value, &text);
    out += text;
    i += 4;
  }
  return out;
}

}  // namespace parlex2
