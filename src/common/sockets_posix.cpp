#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "common/clock.h"
#include "common/sockets.h"
#include "common/system_error.h"

namespace parlex2 {
namespace {

int Fd(SocketHandle socket) { return static_cast<int>(socket); }

void SetError(std::string* error, const std::string& what) {
  if (error) *error = LastSystemErrorText(what);
}

bool ToAddress(const std::string& text, in_addr& address) {
  return inet_pton(AF_INET, text.c_str(), &address) == 1;
}

// `address` (dotted IPv4; empty means any local address where `emptyIsAny`)
// and `port` as a socket address; false, with the reason, for no address.
bool ToSocketAddress(const std::string& address, std::uint16_t port, sockaddr_in& at,
                     std::string* error, bool emptyIsAny = false) {
  at = sockaddr_in{};
  at.sin_family = AF_INET;
  at.sin_port = htons(port);
  at.sin_addr.s_addr = htonl(INADDR_ANY);
  if ((emptyIsAny && address.empty()) || ToAddress(address, at.sin_addr)) return true;
  if (error) *error = "not an IPv4 address: " + address;
  return false;
}

std::string AddressText(const in_addr& address) {
  char text[INET_ADDRSTRLEN] = {};
  return inet_ntop(AF_INET, &address, text, sizeof text) ? text : "";
}

bool WouldBlock(int code) { return code == EAGAIN || code == EWOULDBLOCK; }

// A fresh non-blocking socket of `type`, or -1 with the reason.
int NewSocket(int type, std::string* error) {
  const int fd = socket(AF_INET, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) SetError(error, "socket");
  return fd;
}

void SetOption(int fd, int level, int name) {
  int one = 1;
  setsockopt(fd, level, name, &one, sizeof one);
}

// Binds `fd` to `at` (and listens, for a stream), then sets `port` to the port
// bound. On failure the socket is closed and `error` says why.
bool BindAndName(int fd, sockaddr_in& at, bool listens, std::uint16_t& port,
                 const std::string& what, std::string* error) {
  socklen_t length = sizeof at;
  if (bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
      (listens && listen(fd, 8) != 0) ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&at), &length) != 0) {
    SetError(error, what);
    close(fd);
    return false;
  }
  port = ntohs(at.sin_port);
  return true;
}

// Polls one descriptor for `events`, taking an interrupted poll again with
// the time that is left.
bool PollOne(int fd, short events, std::uint32_t timeoutMs) {
  Clock& clock = SystemClock();
  const std::uint64_t start = clock.TickMs();
  for (;;) {
    pollfd p{fd, events, 0};
    const std::uint64_t spent = clock.TickMs() - start;
    const std::uint64_t left = spent >= timeoutMs ? 0 : timeoutMs - spent;
    const int ready = poll(&p, 1, WaitMsForSystem(left));
    if (ready >= 0) return ready > 0;
    if (errno != EINTR) return false;
  }
}

}  // namespace

namespace detail {
bool StartSocketsLayer() { return true; }
void StopSocketsLayer() {}
}  // namespace detail

SocketHandle TcpConnect(const std::string& address, std::uint16_t port, std::uint32_t timeoutMs,
                        std::string* error) {
  sockaddr_in peer;
  if (!ToSocketAddress(address, port, peer, error)) return kNoSocket;
  const int fd = NewSocket(SOCK_STREAM, error);
  if (fd < 0) return kNoSocket;
  if (connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) {
      SetError(error, "connect");
      close(fd);
      return kNoSocket;
    }
    if (!PollOne(fd, POLLOUT, timeoutMs)) {
      if (error) *error = "no answer within the connect time-out";
      close(fd);
      return kNoSocket;
    }
    int soError = 0;
    socklen_t length = sizeof soError;
    getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &length);
    if (soError != 0) {
      if (error) *error = "connect: " + SystemErrorText(soError);
      close(fd);
      return kNoSocket;
    }
  }
  SetOption(fd, IPPROTO_TCP, TCP_NODELAY);
  return fd;
}

SocketHandle TcpListen(const std::string& address, std::uint16_t& port, std::string* error) {
  sockaddr_in at;
  if (!ToSocketAddress(address, port, at, error)) return kNoSocket;
  const int fd = NewSocket(SOCK_STREAM, error);
  if (fd < 0) return kNoSocket;
  // A restart may bind at once; a second listener still fails.
  SetOption(fd, SOL_SOCKET, SO_REUSEADDR);
  return BindAndName(fd, at, true, port, "bind " + address, error) ? fd : kNoSocket;
}

SocketHandle TcpAccept(SocketHandle listener, std::string* peer) {
  sockaddr_in from{};
  socklen_t length = sizeof from;
  int fd;
  do {
    fd = accept4(Fd(listener), reinterpret_cast<sockaddr*>(&from), &length,
                 SOCK_CLOEXEC | SOCK_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return kNoSocket;
  SetOption(fd, IPPROTO_TCP, TCP_NODELAY);
  if (peer) *peer = AddressText(from.sin_addr) + ":" + std::to_string(ntohs(from.sin_port));
  return fd;
}

IoStatus SocketReceive(SocketHandle socket, char* buffer, std::size_t capacity,
                       std::size_t& count) {
  for (;;) {
    const ssize_t n = recv(Fd(socket), buffer, capacity, MSG_DONTWAIT);
    if (n > 0) {
      count = static_cast<std::size_t>(n);
      return IoStatus::Done;
    }
    if (n == 0) return IoStatus::Closed;
    if (errno == EINTR) continue;
    return WouldBlock(errno) ? IoStatus::WouldBlock : IoStatus::Closed;
  }
}

IoStatus SocketSend(SocketHandle socket, const char* data, std::size_t length, std::size_t& count) {
  for (;;) {
    const ssize_t n = send(Fd(socket), data, length, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n >= 0) {
      count = static_cast<std::size_t>(n);
      return IoStatus::Done;
    }
    if (errno == EINTR) continue;
    return WouldBlock(errno) ? IoStatus::WouldBlock : IoStatus::Closed;
  }
}

SocketHandle UdpOpen(const std::string& address, std::uint16_t& port, unsigned options,
                     std::string* error) {
  sockaddr_in at;
  if (!ToSocketAddress(address, port, at, error, true)) return kNoSocket;
  const int fd = NewSocket(SOCK_DGRAM, error);
  if (fd < 0) return kNoSocket;
  if (options & kUdpBroadcast) SetOption(fd, SOL_SOCKET, SO_BROADCAST);
  if (options & kUdpReuseAddress) SetOption(fd, SOL_SOCKET, SO_REUSEADDR);
  const std::string what =
      "bind udp " + (address.empty() ? "*" : address) + ":" + std::to_string(port);
  return BindAndName(fd, at, false, port, what, error) ? fd : kNoSocket;
}

SocketHandle UdpOpenBroadcastReceiver(std::uint16_t port, const std::string&, std::string* error) {
  return UdpOpen("255.255.255.255", port, kUdpBroadcast | kUdpReuseAddress, error);
}

bool UdpSendTo(SocketHandle socket, const std::string& address, std::uint16_t port,
               const char* data, std::size_t length) {
  sockaddr_in peer;
  if (!ToSocketAddress(address, port, peer, nullptr)) return false;
  ssize_t sent;
  do {
    sent = sendto(Fd(socket), data, length, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&peer),
                  sizeof peer);
  } while (sent < 0 && errno == EINTR);
  return sent == static_cast<ssize_t>(length);
}

DatagramStatus UdpReceiveFrom(SocketHandle socket, char* buffer, std::size_t capacity,
                              std::size_t& received, std::string& sender,
                              std::uint16_t* senderPort) {
  sockaddr_in from{};
  socklen_t fromLength = sizeof from;
  ssize_t n;
  do {
    // MSG_TRUNC: the result is the datagram's real length, so an oversized
    // one is recognised (the kernel drops its tail either way).
    n = recvfrom(Fd(socket), buffer, capacity, MSG_DONTWAIT | MSG_TRUNC,
                 reinterpret_cast<sockaddr*>(&from), &fromLength);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return WouldBlock(errno) ? DatagramStatus::NothingWaiting : DatagramStatus::Error;
  sender = from.sin_family == AF_INET ? AddressText(from.sin_addr) : std::string();
  if (senderPort) *senderPort = ntohs(from.sin_port);
  const bool oversized = static_cast<std::size_t>(n) > capacity;
  received = oversized ? capacity : static_cast<std::size_t>(n);
  return oversized ? DatagramStatus::Oversized : DatagramStatus::Received;
}

bool SocketWaitReadable(SocketHandle socket, std::uint32_t timeoutMs) {
  return PollOne(Fd(socket), POLLIN, timeoutMs);
}

bool SocketWaitWritable(SocketHandle socket, std::uint32_t timeoutMs) {
  return PollOne(Fd(socket), POLLOUT, timeoutMs);
}

bool WaitForSockets(std::vector<SocketWatch>& watches, long long timeoutUs, std::string* error) {
  std::vector<pollfd> fds;
  fds.reserve(watches.size());
  for (const SocketWatch& w : watches) {
    fds.push_back({Fd(w.handle), static_cast<short>(POLLIN | (w.write ? POLLOUT : 0)), 0});
  }
  timespec limit{};
  limit.tv_sec = static_cast<time_t>(timeoutUs / 1000000);
  limit.tv_nsec = static_cast<long>(timeoutUs % 1000000) * 1000;
  if (ppoll(fds.data(), fds.size(), timeoutUs < 0 ? nullptr : &limit, nullptr) < 0) {
    for (SocketWatch& w : watches) w.ready = w.writable = false;
    if (errno == EINTR) return true;
    SetError(error, "poll");
    return false;
  }
  for (std::size_t i = 0; i < watches.size(); ++i) {
    watches[i].ready = (fds[i].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0;
    watches[i].writable = (fds[i].revents & POLLOUT) != 0;
  }
  return true;
}

void SocketClose(SocketHandle socket, SocketClosing how) {
  if (socket == kNoSocket) return;
  switch (how) {
    case SocketClosing::Plain:
      break;
    case SocketClosing::ShutDownSending:
      shutdown(Fd(socket), SHUT_WR);
      break;
    case SocketClosing::ShutDownBoth:
      shutdown(Fd(socket), SHUT_RDWR);
      break;
    case SocketClosing::Reset: {
      linger hard{1, 0};
      setsockopt(Fd(socket), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
      break;
    }
  }
  close(Fd(socket));
}

}  // namespace parlex2
