#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>

#include "support/tcp_peer.h"

namespace parlex2::testing {

namespace {
bool WaitReadable(SOCKET s, int timeoutMs) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(s, &readable);
  timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  return select(0, &readable, nullptr, nullptr, &limit) > 0;
}
}  // namespace

TcpPeer::TcpPeer(const std::string& address, std::uint16_t port) : address_(address) {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(port);
  inet_pton(AF_INET, address.c_str(), &at.sin_addr);
  int length = sizeof at;
  if (bind(s, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || listen(s, 4) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&at), &length) != 0) {
    closesocket(s);
    return;
  }
  listener_ = static_cast<std::intptr_t>(s);
  port_ = ntohs(at.sin_port);
}

TcpPeer::~TcpPeer() {
  Close();
  if (listener_ != -1) closesocket(static_cast<SOCKET>(listener_));
  WSACleanup();
}

bool TcpPeer::Accept(int timeoutMs) {
  if (!WaitReadable(static_cast<SOCKET>(listener_), timeoutMs)) return false;
  SOCKET c = accept(static_cast<SOCKET>(listener_), nullptr, nullptr);
  if (c == INVALID_SOCKET) return false;
  client_ = static_cast<std::intptr_t>(c);
  if (smallBuffer_) {
    int size = 4096;
    setsockopt(c, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&size), sizeof size);
  }
  return true;
}

bool TcpPeer::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    int n = send(static_cast<SOCKET>(client_), bytes.data(),
                 static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 20)), 0);
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

std::string TcpPeer::Receive(std::size_t count, int timeoutMs) {
  std::string got;
  static char buffer[65536];
  while (got.size() < count) {
    if (!WaitReadable(static_cast<SOCKET>(client_), timeoutMs)) break;
    int n = recv(static_cast<SOCKET>(client_), buffer,
                 static_cast<int>(std::min(sizeof buffer, count - got.size())), 0);
    if (n <= 0) break;
    got.append(buffer, static_cast<std::size_t>(n));
  }
  return got;
}

void TcpPeer::Close() {
  if (client_ == -1) return;
  closesocket(static_cast<SOCKET>(client_));
  client_ = -1;
}

void TcpPeer::Reset() {
  if (client_ == -1) return;
  linger hard{1, 0};
  setsockopt(static_cast<SOCKET>(client_), SOL_SOCKET, SO_LINGER,
             reinterpret_cast<const char*>(&hard), sizeof hard);
  Close();
}

}  // namespace parlex2::testing
