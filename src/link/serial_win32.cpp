// COM ports on Windows: opened by device path, not shared, 8N1 with DTR and
// RTS on and no CTS/DSR flow control, 4096-byte driver queues, and time-outs
// that make a one-byte read return at once when a byte waits and otherwise
// wait up to the read time-out.
#include <windows.h>

#include <cstring>

#include "common/system_error.h"
#include "link/transport.h"

namespace parlex2 {
namespace {

constexpr DWORD kQueueSize = 4096;

bool SetReadConstant(HANDLE port, DWORD milliseconds) {
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
  timeouts.ReadTotalTimeoutConstant = milliseconds;
  timeouts.WriteTotalTimeoutMultiplier = 10;
  timeouts.WriteTotalTimeoutConstant = 1;
  return SetCommTimeouts(port, &timeouts) != FALSE;
}

class SerialTransport final : public Transport {
 public:
  explicit SerialTransport(HANDLE port) : port_(port) {}
  ~SerialTransport() override {
    PurgeComm(port_, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    CloseHandle(port_);
  }

  TransportStatus Write(std::string_view bytes) override {
    DWORD written = 0;
    const bool ok =
        WriteFile(port_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    return ok && written == bytes.size() ? TransportStatus::Ok : TransportStatus::Failed;
  }

  TransportStatus ReadLine(char* buffer, std::size_t size, std::size_t& length) override {
    std::memset(buffer, 0, size);
    std::size_t stored = 0;
    TransportStatus status = TransportStatus::Ok;
    while (stored + 1 < size) {
      char byte;
      DWORD got = 0;
      if (!ReadFile(port_, &byte, 1, &got, nullptr)) {
        status = TransportStatus::Failed;
        break;
      }
      if (got == 0) {
        status = TransportStatus::TimedOut;
        break;
      }
      buffer[stored++] = byte;
      if (byte == '\n') break;
    }
    length = CutAtCarriageReturn(buffer, stored);
    return status;
  }

  TransportStatus ReadByte(unsigned char& byte) override {
    DWORD errors = 0;
    COMSTAT status{};
    // Also clears a pending error condition, which would block further reads.
    if (!ClearCommError(port_, &errors, &status)) return TransportStatus::Failed;
    if (status.cbInQue == 0) return TransportStatus::NothingWaiting;
    DWORD got = 0;
    if (!ReadFile(port_, &byte, 1, &got, nullptr)) {
      ClearCommError(port_, &errors, &status);
      return TransportStatus::Failed;
    }
    return got == 1 ? TransportStatus::Ok : TransportStatus::Failed;
  }

  void WaitReadable(std::uint32_t milliseconds) override {
    // A COM port offers no wait without overlapped I/O; look again every
    // millisecond so a byte is taken as soon as it is there.
    const ULONGLONG start = GetTickCount64();
    for (;;) {
      DWORD errors = 0;
      COMSTAT status{};
      if (!ClearCommError(port_, &errors, &status) || status.cbInQue > 0) return;
      if (GetTickCount64() - start >= milliseconds) return;
      Sleep(1);
    }
  }

  void SetReadTimeout(std::uint32_t milliseconds) override { SetReadConstant(port_, milliseconds); }

 private:
  HANDLE port_;
};

}  // namespace

TransportStatus OpenSerialTransport(const std::string& port, std::uint32_t baudRate,
                                    std::unique_ptr<Transport>& transport, std::string& error) {
  const std::string device = "\\\\.\\" + port;
  HANDLE handle = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error = port + ": " + SystemErrorText(LastSystemError());
    return TransportStatus::Failed;
  }
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  bool ok = GetCommState(handle, &dcb) != FALSE;
  if (ok) {
    dcb.BaudRate = baudRate;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    ok = SetCommState(handle, &dcb) != FALSE;
  }
  ok = ok && SetupComm(handle, kQueueSize, kQueueSize) != FALSE;
  ok = ok && SetReadConstant(handle, kDefaultReadTimeoutMs);
  if (!ok) {
    error = port + ": " + SystemErrorText(LastSystemError());
    CloseHandle(handle);
    return TransportStatus::Failed;
  }
  transport = std::make_unique<SerialTransport>(handle);
  return TransportStatus::Ok;
}

}  // namespace parlex2
