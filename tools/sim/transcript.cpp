#include "transcript.h"

#include <cstdio>
#include <cstdlib>

#include "common/text.h"
#include "sim_clock.h"

namespace parlex2::sim {

std::string FormatTranscriptChunk(std::uint64_t ms, bool received, std::string_view bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%8llu %s", static_cast<unsigned long long>(ms),
                received ? "RX" : "TX");
  std::string line = text;
  for (char c : bytes) {
    std::snprintf(text, sizeof text, " %02X", static_cast<unsigned>(static_cast<unsigned char>(c)));
    line += text;
  }
  line += " |";
  for (char c : bytes) {
    auto u = static_cast<unsigned char>(c);
    line += u >= 0x20 && u < 0x7F ? c : '.';
  }
  line += "|\n";
  return line;
}

std::string FormatTranscriptEvent(std::uint64_t ms, std::string_view text) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%8llu -- ", static_cast<unsigned long long>(ms));
  std::string line = stamp;
  for (char c : text) line += c == '\n' ? ' ' : c;
  line += '\n';
  return line;
}

std::vector<TranscriptChunk> ParseTranscript(std::string_view text) {
  std::vector<TranscriptChunk> chunks;
  for (const std::string& line : SplitText(text, '\n')) {
    char* rest = nullptr;
    unsigned long long ms = std::strtoull(line.c_str(), &rest, 10);
    if (rest == line.c_str()) continue;
    while (*rest == ' ') ++rest;
    TranscriptChunk chunk;
    chunk.ms = ms;
    if (rest[0] == 'R' && rest[1] == 'X') {
      chunk.received = true;
    } else if (!(rest[0] == 'T' && rest[1] == 'X')) {
      continue;
    }
    rest += 2;
    while (rest[0] == ' ' && rest[1] != '|' && rest[1] && rest[2]) {
      char hex[3] = {rest[1], rest[2], 0};
      char* after = nullptr;
      unsigned long byte = std::strtoul(hex, &after, 16);
      if (after != hex + 2) break;
      chunk.bytes.push_back(static_cast<char>(byte));
      rest += 3;
    }
    chunks.push_back(std::move(chunk));
  }
  return chunks;
}

TranscriptFile::~TranscriptFile() {
  if (file_) std::fclose(file_);
}

bool TranscriptFile::Open(const std::string& path) {
  if (path.empty()) return true;
  file_ = std::fopen(path.c_str(), "w");
  return file_ != nullptr;
}

void TranscriptFile::Chunk(bool received, std::string_view bytes) {
  Write(FormatTranscriptChunk(NowMs(), received, bytes));
}

void TranscriptFile::Event(std::string_view text) { Write(FormatTranscriptEvent(NowMs(), text)); }

void TranscriptFile::Write(const std::string& line) {
  if (!file_) return;
  std::fputs(line.c_str(), file_);
  std::fflush(file_);
}

}  // namespace parlex2::sim
