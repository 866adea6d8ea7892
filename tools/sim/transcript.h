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

}  // namespace parlex2::sim
