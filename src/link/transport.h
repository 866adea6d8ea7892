// A byte channel to the instrument: a COM port or a TCP connection. The link
// (instrument_link.h) holds one while it is open and never asks which kind;
// every transport answers its open, writes and reads with one status type,
// and the link turns that into the results its callers know.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace parlex2 {

// The read time-out every transport starts with.
inline constexpr std::uint32_t kDefaultReadTimeoutMs = 5000;

// What a transport's open, write or read came to.
enum class TransportStatus {
  Ok,              // opened; every byte written; a line ended, or a byte read
  NothingWaiting,  // ReadByte: no byte waits now
  TimedOut,        // ReadLine: the read time-out passed before the line ended
  Failed,          // the open or the write failed, or the port or peer has gone
};

class Transport {
 public:
  virtual ~Transport() = default;

  // Writes every byte of `bytes`: Ok when all went out.
  virtual TransportStatus Write(std::string_view bytes) = 0;

  // Reads one reply line into `buffer` (`size` bytes, zero-filled first,
  // always zero-terminated) and sets `length` to the length of its text,
  // also when the line did not end. How a line ends and what is kept of it
  // is each transport's own (see the serial and the LAN transports).
  virtual TransportStatus ReadLine(char* buffer, std::size_t size, std::size_t& length) = 0;

  // The next waiting byte; NothingWaiting when none waits, Failed on a read
  // error or when the peer has gone. Never waits.
  virtual TransportStatus ReadByte(unsigned char& byte) = 0;

  // Waits at most `milliseconds` for a byte to become readable (or for the
  // channel to fail). Returns at once when one already waits.
  virtual void WaitReadable(std::uint32_t milliseconds) = 0;

  // How long ReadLine waits for a byte.
  virtual void SetReadTimeout(std::uint32_t milliseconds) = 0;
};

// The serial line rule for the `stored` bytes read into `buffer`: the text
// ends at its first carriage return (it and everything after it, a line feed
// included, become zero bytes); a line feed without one stays. Returns the
// length of the text up to its first zero byte.
inline std::size_t CutAtCarriageReturn(char* buffer, std::size_t stored) {
  for (std::size_t i = 0; i < stored; ++i) {
    if (buffer[i] == '\r') {
      for (std::size_t j = i; j < stored; ++j) buffer[j] = '\0';
      break;
    }
  }
  std::size_t length = 0;
  while (length < stored && buffer[length] != '\0') ++length;
  return length;
}

// Opens the COM port `port` ("COM7" on Windows, a device path such as
// /dev/ttyUSB0 elsewhere) at `baudRate`, 8N1, DTR and RTS on, no flow
// control, with a read time-out of 5000 ms. Failed, with the system's reason
// in `error`, when it cannot be opened or set up.
TransportStatus OpenSerialTransport(const std::string& port, std::uint32_t baudRate,
                                    std::unique_ptr<Transport>& transport, std::string& error);

}  // namespace parlex2
