// COM ports on Windows: opened by device path, not shared, 8N1 with DTR and
// RTS on and no CTS/DSR flow control, 4096-byte driver queues, and time-outs
// that make a one-byte read return at once when a byte waits and otherwise
// wait up to the read time-out.
#include <windows.h>

#include <cstring>

#include "link/lan.h"
#include "link/transport.h"

namespace parlex2 {
namespace {

constexpr DWORD kQueueSize = 4096;

std::string SystemErrorText(DWORD code) {
  char text[256] = {};
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                 text, sizeof text - 1, nullptr);
  std::string result = text[0] ? text : "error " + std::to_string(code);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r')) result.pop_back();
  return result;
}

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

  int Write(std::string_view bytes) override {
    DWORD written = 0;
    if (!WriteFile(port_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
      return 0;
    }
    return static_cast<int>(written);
  }

  int ReadLine(char* buffer, std::size_t size) override {
    std::memset(buffer, 0, size);
    std::size_t stored = 0;
    while (stored + 1 < size) {
      char byte;
      DWORD got = 0;
      if (!ReadFile(port_, &byte, 1, &got, nullptr) || got == 0) break;
      buffer[stored++] = byte;
      if (byte == '\n') break;
    }
    if (char* cr = static_cast<char*>(std::memchr(buffer, '\r', stored))) {
      std::memset(cr, 0, stored - static_cast<std::size_t>(cr - buffer));
    }
    return static_cast<int>(std::strlen(buffer));
  }

  int ReadByte() override {
    DWORD errors = 0;
    COMSTAT status{};
    // Also clears a pending error condition, which would block further reads.
    if (!ClearCommError(port_, &errors, &status)) return -1;
    if (status.cbInQue == 0) return -2;
    unsigned char byte;
    DWORD got = 0;
    if (!ReadFile(port_, &byte, 1, &got, nullptr)) {
      ClearCommError(port_, &errors, &status);
      return -1;
    }
    return got == 1 ? byte : -1;
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
  bool WriteReturnsCount() const override { return true; }

 private:
  HANDLE port_;
};

}  // namespace

std::unique_ptr<Transport> OpenSerialTransport(const std::string& port, std::uint32_t baudRate,
                                               std::string* error) {
  const std::string device = "\\\\.\\" + port;
  HANDLE handle = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    if (error) *error = port + ": " + SystemErrorText(GetLastError());
    return nullptr;
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
    if (error) *error = port + ": " + SystemErrorText(GetLastError());
    CloseHandle(handle);
    return nullptr;
  }
  return std::make_unique<SerialTransport>(handle);
}

}  // namespace parlex2
