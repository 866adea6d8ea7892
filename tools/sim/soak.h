// The soak stream: after "soak BYTES" the simulator sends numbered lines as
// fast as the client takes them until BYTES have gone, then one end line.
// Every fourth line carries a 4-byte binary value; the others are text of
// varying length. Each line holds its own check, so a reader can tell a lost,
// doubled, reordered or damaged line without knowing the stream beforehand:
//
//   t,N,PAYLOAD,CCCCCCCC    text; CCCCCCCC the FNV-1a hash of "t,N,PAYLOAD" in hex
//   b,N,<4 bytes>,CCCCCCCC  binary; the hash of "b,N" (the value is SoakValue(N))
//   end,LINES,BYTES         after the last line: how many lines and bytes went
//
// Every line ends in CR LF; no binary value holds a zero byte, CR or LF, so
// the lines come out whole whether the reader converts binary values or not.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace parlex2::sim {

std::uint32_t SoakHash(std::string_view text);

// The binary value line N carries: exact in the instrument's 20-bit mantissa,
// and encoded without a zero byte, CR or LF.
double SoakValue(std::uint64_t n);

// Line N (counted from 1) with its CR LF.
std::string SoakLine(std::uint64_t n);

// The generator: lines until `bytes` have been produced, then the end line.
class SoakStream {
 public:
  void Start(std::uint64_t bytes) {
    target_ = bytes;
    sent_ = 0;
    lines_ = 0;
    active_ = true;
  }
  bool Active() const { return active_; }
  // Appends lines to `out` until it holds at least `fill` bytes or the stream
  // has ended.
  void Fill(std::string& out, std::size_t fill);

 private:
  std::uint64_t target_ = 0;
  std::uint64_t sent_ = 0;
  std::uint64_t lines_ = 0;
  bool active_ = false;
};

}  // namespace parlex2::sim
