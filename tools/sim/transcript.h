// The --transcript file: every chunk of bytes received from or sent to the
// client, one a line, with the milliseconds since the simulator started:
//
//       1234 RX 2A 49 44 4E 3F 0A 00 |*IDN?..|
//       1236 TX 6F 6B 0D 0A |ok..|
//       1300 -- client closed
//
// RX is what the client sent, TX what the simulator sent; "--" lines note
// events. The text between the bars shows printable bytes, '.' for others.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace parlex2::sim {

struct TranscriptChunk {
  std::uint64_t ms = 0;
  bool received = false;  // RX: from the client
  std::string bytes;
};

std::string FormatTranscriptChunk(std::uint64_t ms, bool received, std::string_view bytes);
std::string FormatTranscriptEvent(std::uint64_t ms, std::string_view text);

// The data chunks of a transcript, in order; event lines are passed over.
std::vector<TranscriptChunk> ParseTranscript(std::string_view text);

// The file as the simulator writes it, stamped with the simulator's time
// (sim_clock.h) and flushed line by line, so a reader sees every line as soon
// as it happened.
class TranscriptFile {
 public:
  TranscriptFile() = default;
  ~TranscriptFile();
  TranscriptFile(const TranscriptFile&) = delete;
  TranscriptFile& operator=(const TranscriptFile&) = delete;

  // Opens `path` for writing; false when it cannot be. With an empty path
  // (no --transcript) nothing is written.
  bool Open(const std::string& path);
  void Chunk(bool received, std::string_view bytes);
  void Event(std::string_view text);

 private:
  void Write(const std::string& line);
  std::FILE* file_ = nullptr;
};

}  // namespace parlex2::sim
