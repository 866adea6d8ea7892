// The serial bench on POSIX: a pseudo-terminal stands in for the COM port;
// the test holds its master side. The slave stays open here too, so closing
// the link is no hang-up.
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "support/transport_bench.h"

namespace parlex2::testing {
namespace {

class PtyBench final : public TransportBench {
 public:
  ~PtyBench() override {
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
  }
  std::string Open(InstrumentLink& link) override {
    char name[128];
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) return "skip: no pty here";
    termios tio;
    tcgetattr(master_, &tio);
    cfmakeraw(&tio);
    tcsetattr(master_, TCSANOW, &tio);
    // USB, with no rate stored, as a settings file written by hand may leave it.
    link.settings.interfaceKind = InterfaceKind::Usb;
    link.settings.comPort = name;
    link.settings.baudRate = 0;
    if (link.Open() != 0) return "open: " + link.LastError();
    return Receive(1, 2000) == "\x14" ? "" : "no wake byte";
  }
  bool Send(std::string_view bytes) override {
    while (!bytes.empty()) {
      const ssize_t n = write(master_, bytes.data(), bytes.size());
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n <= 0) return false;
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }
  std::string Receive(std::size_t count, int timeoutMs) override {
    std::string got;
    char buffer[4096];
    while (got.size() < count) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, timeoutMs) <= 0) break;
      const ssize_t n = read(master_, buffer, std::min(sizeof buffer, count - got.size()));
      if (n <= 0) break;
      got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
  }
  bool HangUp() override {
    close(master_);
    master_ = -1;
    return true;
  }
  std::optional<std::string> OpenAgainError(InstrumentLink& link) override {
    std::unique_ptr<Transport> second;
    std::string error;  // stays empty when the second open succeeds
    OpenSerialTransport(link.settings.comPort, 9600, second, error);
    return error;
  }
  std::optional<std::uint32_t> LineSpeed() override {
    termios tio;
    if (tcgetattr(slave_, &tio) != 0) return std::nullopt;
    return cfgetospeed(&tio) == B19200 ? 19200u : 0u;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
};

}  // namespace

std::vector<TransportCase> SerialTransportCases() {
  return {{"pty", [] { return std::make_unique<PtyBench>(); }}};
}

std::vector<std::pair<std::string, std::uint32_t>> SerialOpenFailures() {
  return {{"/dev/does-not-exist", 9600},
          {"/dev/null", 9600},    // not a serial port
          {"/dev/ptmx", 12345}};  // no such rate
}

}  // namespace parlex2::testing
