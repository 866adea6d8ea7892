// With --baud: the timing of a serial line at that rate (10 bits a byte).
// A command arrives byte by byte; its reply starts after it (and the --delay)
// once the line out is free, and is whole when its last byte is.
#pragma once

#include <cstddef>
#include <cstdint>

namespace parlex2::sim {

class BaudPacer {
 public:
  explicit BaudPacer(int baud) : baud_(static_cast<std::uint64_t>(baud)) {}

  // `commandBytes` were read at `nowUs`; the reply of `replyBytes` follows
  // `delayUs` after the command's last byte. Returns the time the reply's
  // last byte has gone, when the whole reply is handed to the client
  // (microseconds of the simulator's clock).
  std::uint64_t ReplyDue(std::uint64_t nowUs, std::size_t commandBytes, std::uint64_t delayUs,
                         std::size_t replyBytes);

 private:
  // Microseconds `count` bytes take on the line.
  std::uint64_t WireUs(std::size_t count) const {
    return static_cast<std::uint64_t>(count) * 10000000u / baud_;
  }

  std::uint64_t baud_;
  // When the line in each direction is free again.
  std::uint64_t receiveBusyUntil_ = 0;
  std::uint64_t sendBusyUntil_ = 0;
};

}  // namespace parlex2::sim
