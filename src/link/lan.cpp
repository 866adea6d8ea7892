// The TCP transport: every text goes out followed by its terminating zero
// byte, and what arrives is collected in a receive ring from which bytes and
// lines are taken.
#include "link/lan.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/clock.h"
#include "common/sockets.h"

namespace parlex2 {
namespace {

class LanTransport final : public Transport {
 public:
  LanTransport(SocketHandle socket, Clock& clock)
      : socket_(socket), clock_(clock), ring_(kLanRingSize) {}
  ~LanTransport() override { SocketClose(socket_, SocketClosing::ShutDownSending); }

  TransportStatus Write(std::string_view text) override {
    // The instrument's network interface takes the zero byte as the end of a
    // command text.
    std::string bytes(text);
    bytes.push_back('\0');
    return SocketSendAll(socket_, bytes.data(), bytes.size()) ? TransportStatus::Ok
                                                              : TransportStatus::Failed;
  }

  TransportStatus ReadByte(unsigned char& byte) override {
    if (rxCount_ == 0) Fill();
    if (rxCount_ == 0) return peerGone_ ? TransportStatus::Failed : TransportStatus::NothingWaiting;
    byte = ring_[rxRead_];
    rxRead_ = (rxRead_ + 1) % kLanRingSize;
    --rxCount_;
    return TransportStatus::Ok;
  }

  // The time-out restarts after every byte, so a slow reply still comes
  // whole; the whole call ends at twice the time-out all the same, so a peer
  // that keeps sending without a line feed cannot hold the caller.
  TransportStatus ReadLine(char* buffer, std::size_t size, std::size_t& length) override {
    std::memset(buffer, 0, size);
    const std::uint64_t timeout = readTimeout_;
    const std::uint64_t callStart = clock_.TickMs();
    length = 0;
    bool waiting = false;
    std::uint64_t waitStart = 0;
    for (;;) {
      unsigned char c = 0;
      const TransportStatus status = ReadByte(c);
      // The peer has gone: no line will complete.
      if (status == TransportStatus::Failed) return status;
      const std::uint64_t now = clock_.TickMs();
      if (now - callStart > 2 * timeout) return TransportStatus::TimedOut;
      if (status == TransportStatus::NothingWaiting) {
        if (!waiting) {
          waiting = true;
          waitStart = now;
        }
        const std::uint64_t elapsed = now - waitStart;
        if (elapsed >= timeout) return TransportStatus::TimedOut;
        SocketWaitReadable(socket_, static_cast<std::uint32_t>(std::min(
                                        timeout - elapsed, 2 * timeout - (now - callStart))));
        continue;
      }
      waiting = false;
      if (c == '\n') return TransportStatus::Ok;
      if (c == '\r') continue;
      if (length + 1 < size) buffer[length++] = static_cast<char>(c);
    }
  }

  void WaitReadable(std::uint32_t milliseconds) override {
    if (rxCount_ > 0 || peerGone_) return;
    SocketWaitReadable(socket_, milliseconds);
  }

  void SetReadTimeout(std::uint32_t milliseconds) override { readTimeout_ = milliseconds; }

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
    switch (SocketReceive(socket_, at, contiguous, received)) {
      case IoStatus::Done:
        rxWrite_ = (rxWrite_ + received) % kLanRingSize;
        rxCount_ += received;
        break;
      case IoStatus::Closed:
        peerGone_ = true;
        break;
      case IoStatus::WouldBlock:
        break;
    }
  }

  SocketsUser sockets_;  // first in, last out: the socket closes before the layer goes
  SocketHandle socket_;
  Clock& clock_;
  std::uint32_t readTimeout_ = kDefaultReadTimeoutMs;
  std::vector<unsigned char> ring_;
  std::size_t rxCount_ = 0;
  std::size_t rxWrite_ = 0;
  std::size_t rxRead_ = 0;
  bool peerGone_ = false;
};

}  // namespace

TransportStatus LanConnect(const std::string& address, std::uint16_t port, Clock& clock,
                           std::unique_ptr<Transport>& transport, std::string& error) {
  const SocketsUser sockets;  // for the connection's set-up; the transport takes its own
  if (!sockets.started()) {
    error = "the sockets layer could not be started";
    return TransportStatus::Failed;
  }
  const SocketHandle socket = TcpConnect(address, port, kLanConnectTimeoutMs, &error);
  if (socket == kNoSocket) return TransportStatus::Failed;
  transport = std::make_unique<LanTransport>(socket, clock);
  return TransportStatus::Ok;
}

}  // namespace parlex2
