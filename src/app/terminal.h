// The terminal's protocol side: typed commands going out, and received bytes
// assembled into the lines the results pane shows.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace parlex2 {

class InstrumentLink;

// The bytes a typed command goes out as: "^X" (X a letter in either case, or
// '[') becomes the one control character X - 0x40 and a line feed, anything
// after the two characters dropped; any other text gets a line feed.
std::string TypedCommandBytes(std::string_view text);

// Sends a typed command over `link`. True on failure (the command did not go
// out whole).
bool SendTypedCommand(InstrumentLink& link, std::string_view text);

// Assembles received bytes into lines as the poller shows them: a line ends at
// a line feed, a carriage return or a zero byte, empty lines are not shown, and
// a line is cut after 20479 bytes. With binary conversion on, a byte of 0x80 or
// more starts a 4-byte binary value, shown as its text.
class ReceivedLineAssembler {
 public:
  static constexpr std::size_t kLineLimit = 20479;

  struct Line {
    std::string text;          // converted, ready to show (without line end)
    std::string raw;           // as received, for the comms log
    std::size_t rawLength = 0; // bytes received for it, before conversion
  };

  // Takes one received byte. Returns true when it completed a line; `line`
  // then holds it. An empty line completes with rawLength 0 and is not to be
  // shown (callers still add 0 to their received count).
  bool Feed(unsigned char byte, bool convertBinary, Line& line);

  // Drops a partial line (every connect sequence starts afresh).
  void Clear() { buffer_.clear(); }

  std::size_t PendingLength() const { return buffer_.size(); }

  // The shown form of one raw line. A converted line is kept whole, however
  // long its binary values make it.
  static std::string Convert(std::string_view raw, bool convertBinary);

 private:
  std::string buffer_;
};

}  // namespace parlex2
