#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "support/tcp_peer.h"

namespace parlex2::testing {

TcpPeer::TcpPeer(const std::string& address, std::uint16_t port) : address_(address) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(port);
  inet_pton(AF_INET, address.c_str(), &at.sin_addr);
  socklen_t length = sizeof at;
  if (bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || listen(fd, 4) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&at), &length) != 0) {
    close(fd);
    return;
  }
  listener_ = fd;
  port_ = ntohs(at.sin_port);
}

TcpPeer::~TcpPeer() {
  Close();
  if (listener_ != -1) close(static_cast<int>(listener_));
}

bool TcpPeer::Accept(int timeoutMs) {
  pollfd p{static_cast<int>(listener_), POLLIN, 0};
  if (poll(&p, 1, timeoutMs) <= 0) return false;
  client_ = accept(static_cast<int>(listener_), nullptr, nullptr);
  if (client_ != -1 && smallBuffer_) {
    int size = 4096;
    setsockopt(static_cast<int>(client_), SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
  }
  return client_ != -1;
}

bool TcpPeer::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = send(static_cast<int>(client_), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

std::string TcpPeer::Receive(std::size_t count, int timeoutMs) {
  std::string got;
  char buffer[65536];
  while (got.size() < count) {
    pollfd p{static_cast<int>(client_), POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) break;
    ssize_t n = recv(static_cast<int>(client_), buffer,
                     std::min(sizeof buffer, count - got.size()), 0);
    if (n <= 0) break;
    got.append(buffer, static_cast<std::size_t>(n));
  }
  return got;
}

void TcpPeer::Close() {
  if (client_ == -1) return;
  close(static_cast<int>(client_));
  client_ = -1;
}

void TcpPeer::Reset() {
  if (client_ == -1) return;
  linger hard{1, 0};
  setsockopt(static_cast<int>(client_), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  Close();
}

}  // namespace parlex2::testing
