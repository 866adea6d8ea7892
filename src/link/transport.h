// A byte channel to the instrument: a COM port or a TCP connection. The link
// (instrument_link.h) holds one while it is open and never asks which kind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace parlex2 {

class Transport {
 public:
  virtual ~Transport() = default;

  // Writes every byte of `bytes`. COM ports answer the count written (0 when
  // the write failed); TCP answers 0 on success and -1 on failure.
  virtual int Write(std::string_view bytes) = 0;

  // Reads one reply line into `buffer` (`size` bytes, zero-filled first, always
  // zero-terminated). COM ports: the length of the text, 0 when the read
  // time-out passed with nothing. TCP: the length, or -1 on time-out or when
  // the peer has gone.
  virtual int ReadLine(char* buffer, std::size_t size) = 0;

  // The next waiting byte (0..255), -2 when nothing waits, -1 on a read error
  // or when the peer has gone. Never waits.
  virtual int ReadByte() = 0;

  // Waits at most `milliseconds` for a byte to become readable (or for the
  // channel to fail). Returns at once when one already waits.
  virtual void WaitReadable(std::uint32_t milliseconds) = 0;

  // How long ReadLine waits for a byte.
  virtual void SetReadTimeout(std::uint32_t milliseconds) = 0;

  // Whether Write's result is a byte count (COM ports) or 0/-1 (TCP).
  virtual bool WriteReturnsCount() const = 0;
};

// Opens the COM port `port` ("COM7" on Windows, a device path such as
// /dev/ttyUSB0 elsewhere) at `baudRate`, 8N1, DTR and RTS on, no flow control.
// Null on failure; `error` receives the system's reason.
std::unique_ptr<Transport> OpenSerialTransport(const std::string& port, std::uint32_t baudRate,
                                               std::string* error = nullptr);

}  // namespace parlex2
