// The TCP transport: every text goes out followed by its terminating zero
// byte, and what arrives is collected in a receive ring from which bytes and
// lines are taken.
#include "link/lan.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "common/clock.h"
#include "link/sockets.h"

namespace parlex2 {
namespace {

std::atomic<std::uint32_t> lanReadTimeout{kDefaultReadTimeoutMs};

// The sockets layer is started once and released when the last user lets go,
// so closing the Connect dialog's probe link cannot pull the layer from under
// the main link.
std::mutex startupMutex;
int startupCount = 0;

class LanTransport final : public Transport {
 public:
  explicit LanTransport(SocketHandle socket) : socket_(socket), ring_(kLanRingSize) {}
  ~LanTransport() override { SocketShutdownAndClose(socket_); }

  int Write(std::string_view text) override {
    // The instrument's network interface takes the zero byte as the end of a
    // command text.
    std::string bytes(text);
    bytes.push_back('\0');
    return SocketSendAll(socket_, bytes.data(), bytes.size()) ? 0 : -1;
  }

  int ReadByte() override {
    if (rxCount_ == 0) Fill();
    if (rxCount_ == 0) return peerGone_ ? -1 : -2;
    const unsigned char byte = ring_[rxRead_];
    rxRead_ = (rxRead_ + 1) % kLanRingSize;
    --rxCount_;
    return byte;
  }

  // The time-out restarts after every byte, so a slow reply still comes
  // whole; the whole call ends at twice the time-out all the same, so a peer
  // that keeps sending without a line feed cannot hold the caller.
  int ReadLine(char* buffer, std::size_t size) override {
    std::memset(buffer, 0, size);
    Clock& clock = GetClock();
    const std::uint64_t timeout = lanReadTimeout.load();
    const std::uint64_t callStart = clock.TickMs();
    std::size_t stored = 0;
    bool waiting = false;
    std::uint64_t waitStart = 0;
    for (;;) {
      const int c = ReadByte();
      if (c == -1) return -1;  // the peer has gone: no line will complete
      const std::uint64_t now = clock.TickMs();
      if (now - callStart > 2 * timeout) return -1;
      if (c == -2) {
        if (!waiting) {
          waiting = true;
          waitStart = now;
        }
        const std::uint64_t elapsed = now - waitStart;
        if (elapsed >= timeout) return -1;
        SocketWaitReadable(socket_, static_cast<std::uint32_t>(std::min(
                                        timeout - elapsed, 2 * timeout - (now - callStart))));
        continue;
      }
      waiting = false;
      if (c == '\n') return static_cast<int>(stored);
      if (c == '\r') continue;
      if (stored + 1 < size) buffer[stored++] = static_cast<char>(c);
    }
  }

  void WaitReadable(std::uint32_t milliseconds) override {
    if (rxCount_ > 0 || peerGone_) return;
    SocketWaitReadable(socket_, milliseconds);
  }

  void SetReadTimeout(std::uint32_t milliseconds) override { LanSetTimeout(milliseconds); }
  bool WriteReturnsCount() const override { return false; }

 private:
  // Takes from the socket only what fits in the ring without overwriting
  // unread bytes; TCP's flow control holds back the rest.
  void Fill() {
    if (peerGone_) return;
    const std::size_t free = kLanRingSize - rxCount_;
    const std::size_t contiguous = std::min(free, kLanRingSize - rxWrite_);
    if (contiguous == 0) return;
    std::size_t received = 0;
    auto* at = reinterpret_cast<char*>(ring_.data() + rxWrite_);
    switch (SocketReceiveNow(socket_, at, contiguous, received)) {
      case ReceiveStatus::Data:
        rxWrite_ = (rxWrite_ + received) % kLanRingSize;
        rxCount_ += received;
        break;
      case ReceiveStatus::Closed:
        peerGone_ = true;
        break;
      case ReceiveStatus::NothingWaiting:
        break;
    }
  }

  SocketsUser sockets_;  // first in, last out: the socket closes before the layer goes
  SocketHandle socket_;
  std::vector<unsigned char> ring_;
  std::size_t rxCount_ = 0;
  std::size_t rxWrite_ = 0;
  std::size_t rxRead_ = 0;
  bool peerGone_ = false;
};

}  // namespace

int LanStartup() {
  std::lock_guard lock(startupMutex);
  if (startupCount == 0 && !SocketsStartup()) return -1;
  ++startupCount;
  return 0;
}

void LanCleanup() {
  std::lock_guard lock(startupMutex);
  if (startupCount == 0) return;
  if (--startupCount == 0) SocketsCleanup();
}

int SocketsUsers() {
  std::lock_guard lock(startupMutex);
  return startupCount;
}

void LanSetTimeout(std::uint32_t milliseconds) { lanReadTimeout.store(milliseconds); }
std::uint32_t LanGetTimeout() { return lanReadTimeout.load(); }

std::unique_ptr<Transport> LanConnect(const std::string& address, std::uint16_t port,
                                      std::string* error) {
  const SocketsUser sockets;  // for the connection's set-up; the transport takes its own
  if (!sockets.started()) {
    if (error) *error = "the sockets layer could not be started";
    return nullptr;
  }
  SocketHandle socket = TcpConnect(address, port, kLanConnectTimeoutMs, error);
  if (socket == kNoSocket) return nullptr;
  return std::make_unique<LanTransport>(socket);
}

}  // namespace parlex2
