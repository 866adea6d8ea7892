#include "support/tcp_peer.h"

#include <algorithm>

namespace parlex2::testing {

TcpPeer::TcpPeer(const std::string& address, std::uint16_t port) : address_(address) {
  listener_ = TcpListen(address, port, nullptr);
  if (listener_ != kNoSocket) port_ = port;
}

TcpPeer::~TcpPeer() {
  Close();
  SocketClose(listener_);
}

bool TcpPeer::Accept(int timeoutMs) {
  if (!SocketWaitReadable(listener_, static_cast<std::uint32_t>(timeoutMs))) return false;
  client_ = TcpAccept(listener_);
  return client_ != kNoSocket;
}

bool TcpPeer::Send(std::string_view bytes) {
  return SocketSendAll(client_, bytes.data(), bytes.size());
}

std::string TcpPeer::Receive(std::size_t count, int timeoutMs) {
  std::string got;
  std::string buffer(65536, '\0');
  while (got.size() < count) {
    if (!SocketWaitReadable(client_, static_cast<std::uint32_t>(timeoutMs))) break;
    std::size_t n = 0;
    const IoStatus status =
        SocketReceive(client_, buffer.data(), std::min(buffer.size(), count - got.size()), n);
    if (status == IoStatus::WouldBlock) continue;
    if (status == IoStatus::Closed) break;
    got.append(buffer.data(), n);
  }
  return got;
}

void TcpPeer::Close() {
  SocketClose(client_);
  client_ = kNoSocket;
}

}  // namespace parlex2::testing
