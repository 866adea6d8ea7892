#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "link/sockets.h"

namespace parlex2 {

bool SocketsStartup() { return true; }
void SocketsCleanup() {}

namespace {
void SetBlocking(int fd, bool blocking) {
  int flags = fcntl(fd, F_GETFL, 0);
  fcntl(fd, F_SETFL, blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK));
}
void SetError(std::string* error, const char* what, int code) {
  if (error) *error = std::string(what) + ": " + std::strerror(code);
}
}  // namespace

SocketHandle TcpConnect(const std::string& address, std::uint16_t port, std::uint32_t timeoutMs,
                        std::string* error) {
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  if (inet_pton(AF_INET, address.c_str(), &peer.sin_addr) != 1) {
    if (error) *error = "not an IPv4 address: " + address;
    return kNoSocket;
  }
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    SetError(error, "socket", errno);
    return kNoSocket;
  }
  SetBlocking(fd, false);
  if (connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0) {
    if (errno != EINPROGRESS) {
      SetError(error, "connect", errno);
      close(fd);
      return kNoSocket;
    }
    pollfd p{fd, POLLOUT, 0};
    int ready;
    do {
      ready = poll(&p, 1, static_cast<int>(timeoutMs));
    } while (ready < 0 && errno == EINTR);
    int soError = 0;
    socklen_t length = sizeof soError;
    if (ready <= 0) {
      if (error) *error = "no answer within the connect time-out";
      close(fd);
      return kNoSocket;
    }
    getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &length);
    if (soError != 0) {
      SetError(error, "connect", soError);
      close(fd);
      return kNoSocket;
    }
  }
  SetBlocking(fd, true);
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

bool SocketSendAll(SocketHandle socket, const char* data, std::size_t length) {
  while (length > 0) {
    ssize_t sent = send(static_cast<int>(socket), data, length, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += sent;
    length -= static_cast<std::size_t>(sent);
  }
  return true;
}

ReceiveStatus SocketReceiveNow(SocketHandle socket, char* buffer, std::size_t capacity,
                               std::size_t& received) {
  for (;;) {
    ssize_t n = recv(static_cast<int>(socket), buffer, capacity, MSG_DONTWAIT);
    if (n > 0) {
      received = static_cast<std::size_t>(n);
      return ReceiveStatus::Data;
    }
    if (n == 0) return ReceiveStatus::Closed;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return ReceiveStatus::NothingWaiting;
    return ReceiveStatus::Closed;
  }
}

bool SocketWaitReadable(SocketHandle socket, std::uint32_t timeoutMs) {
  pollfd p{static_cast<int>(socket), POLLIN, 0};
  int ready = poll(&p, 1, static_cast<int>(timeoutMs));
  return ready > 0;
}

void SocketShutdownAndClose(SocketHandle socket) {
  if (socket == kNoSocket) return;
  shutdown(static_cast<int>(socket), SHUT_WR);
  close(static_cast<int>(socket));
}

void SocketClose(SocketHandle socket) {
  if (socket != kNoSocket) close(static_cast<int>(socket));
}

}  // namespace parlex2
