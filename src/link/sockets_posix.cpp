#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/clock.h"
#include "link/errno_text.h"
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
  if (error) *error = std::string(what) + ": " + ErrnoText(code);
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
      ready = poll(&p, 1, WaitMsForSystem(timeoutMs));
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
  int ready = poll(&p, 1, WaitMsForSystem(timeoutMs));
  return ready > 0;
}

SocketHandle UdpOpenBroadcast(std::uint16_t localPort, std::string* error) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    SetError(error, "socket", errno);
    return kNoSocket;
  }
  int one = 1;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(localPort);
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  if (setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one) != 0 ||
      setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
      bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    SetError(error, "udp", errno);
    close(fd);
    return kNoSocket;
  }
  SetBlocking(fd, false);
  return fd;
}

bool SocketWaitWritable(SocketHandle socket, std::uint32_t timeoutMs) {
  pollfd p{static_cast<int>(socket), POLLOUT, 0};
  return poll(&p, 1, WaitMsForSystem(timeoutMs)) > 0 && (p.revents & POLLOUT);
}

bool UdpSendTo(SocketHandle socket, const std::string& address, std::uint16_t port,
               const char* data, std::size_t length) {
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  if (inet_pton(AF_INET, address.c_str(), &peer.sin_addr) != 1) return false;
  ssize_t sent;
  do {
    sent = sendto(static_cast<int>(socket), data, length, MSG_NOSIGNAL,
                  reinterpret_cast<sockaddr*>(&peer), sizeof peer);
  } while (sent < 0 && errno == EINTR);
  return sent == static_cast<ssize_t>(length);
}

DatagramStatus UdpReceiveFromNow(SocketHandle socket, char* buffer, std::size_t capacity,
                                 std::size_t& received, std::string& sender) {
  sockaddr_in from{};
  socklen_t fromLength = sizeof from;
  ssize_t n;
  do {
    // MSG_TRUNC: the result is the datagram's real length, so an oversized one
    // is recognised (its tail is discarded by the kernel either way).
    n = recvfrom(static_cast<int>(socket), buffer, capacity, MSG_DONTWAIT | MSG_TRUNC,
                 reinterpret_cast<sockaddr*>(&from), &fromLength);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    return errno == EAGAIN || errno == EWOULDBLOCK ? DatagramStatus::NothingWaiting
                                                   : DatagramStatus::Error;
  }
  if (static_cast<std::size_t>(n) > capacity) return DatagramStatus::Oversized;
  received = static_cast<std::size_t>(n);
  char text[INET_ADDRSTRLEN] = {};
  if (from.sin_family != AF_INET || !inet_ntop(AF_INET, &from.sin_addr, text, sizeof text)) {
    sender.clear();
  } else {
    sender = text;
  }
  return DatagramStatus::Received;
}

bool LookUpOwnAddress(std::string& hostName, std::string& address) {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return false;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* found = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &found) != 0 || !found) return false;
  char text[INET_ADDRSTRLEN] = {};
  const auto* in = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  const bool ok = inet_ntop(AF_INET, &in->sin_addr, text, sizeof text) != nullptr;
  freeaddrinfo(found);
  if (!ok) return false;
  hostName = name;
  address = text;
  return true;
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
