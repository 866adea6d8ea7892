#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>

#include "common/sockets.h"
#include "common/system_error.h"

namespace parlex2 {
namespace {

// Winsock takes lengths as int: larger requests go in pieces.
constexpr std::size_t kLargestChunk = 0x40000000;
constexpr std::size_t kLargestDatagram = 0x10000;

SOCKET Handle(SocketHandle socket) { return static_cast<SOCKET>(socket); }

void SetError(std::string* error, const std::string& what, int code = WSAGetLastError()) {
  if (error) *error = what + ": " + SystemErrorText(code);
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

// Binds `s` to `at` (and listens, for a stream), then sets `port` to the port
// bound. On failure the socket is closed and `error` says why.
bool BindAndName(SOCKET s, sockaddr_in& at, bool listens, std::uint16_t& port,
                 const std::string& what, std::string* error) {
  int length = sizeof at;
  if (bind(s, reinterpret_cast<sockaddr*>(&at), sizeof at) == SOCKET_ERROR ||
      (listens && listen(s, 8) != 0) ||
      getsockname(s, reinterpret_cast<sockaddr*>(&at), &length) != 0) {
    SetError(error, what);
    closesocket(s);
    return false;
  }
  port = ntohs(at.sin_port);
  return true;
}

std::string AddressText(const in_addr& address) {
  char text[INET_ADDRSTRLEN] = {};
  return inet_ntop(AF_INET, &address, text, sizeof text) ? text : "";
}

void SetNonBlocking(SOCKET s) {
  u_long on = 1;
  ioctlsocket(s, FIONBIO, &on);
}

void SetOption(SOCKET s, int level, int name) {
  BOOL one = TRUE;
  setsockopt(s, level, name, reinterpret_cast<const char*>(&one), sizeof one);
}

timeval Limit(long long timeoutUs) {
  return timeval{static_cast<long>(timeoutUs / 1000000), static_cast<long>(timeoutUs % 1000000)};
}

// Waits at most `timeoutMs` for `s` to become readable or writable (or to
// fail): true when it did.
bool WaitFor(SOCKET s, bool write, std::uint32_t timeoutMs) {
  fd_set set;
  fd_set failed;
  FD_ZERO(&set);
  FD_ZERO(&failed);
  FD_SET(s, &set);
  FD_SET(s, &failed);
  timeval limit = Limit(static_cast<long long>(timeoutMs) * 1000);
  return select(0, write ? nullptr : &set, write ? &set : nullptr, &failed, &limit) > 0;
}

// A fresh non-blocking socket, or INVALID_SOCKET with the reason.
SOCKET NewSocket(int type, int protocol, std::string* error) {
  const SOCKET s = socket(AF_INET, type, protocol);
  if (s == INVALID_SOCKET) {
    SetError(error, "socket");
    return s;
  }
  SetNonBlocking(s);
  return s;
}

}  // namespace

namespace detail {
bool StartSocketsLayer() {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
  if (LOBYTE(data.wVersion) != 2 || HIBYTE(data.wVersion) != 2) {
    WSACleanup();
    return false;
  }
  return true;
}
void StopSocketsLayer() { WSACleanup(); }
}  // namespace detail

SocketHandle TcpConnect(const std::string& address, std::uint16_t port, std::uint32_t timeoutMs,
                        std::string* error) {
  sockaddr_in peer;
  if (!ToSocketAddress(address, port, peer, error)) return kNoSocket;
  const SOCKET s = NewSocket(SOCK_STREAM, IPPROTO_TCP, error);
  if (s == INVALID_SOCKET) return kNoSocket;
  if (connect(s, reinterpret_cast<sockaddr*>(&peer), sizeof peer) == SOCKET_ERROR) {
    const int code = WSAGetLastError();
    if (code != WSAEWOULDBLOCK) {
      SetError(error, "connect", code);
      closesocket(s);
      return kNoSocket;
    }
    // A refused connect shows as a failure, with its reason in SO_ERROR.
    const bool ready = WaitFor(s, true, timeoutMs);
    int soError = 0;
    int length = sizeof soError;
    getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &length);
    if (!ready || soError) {
      if (soError) {
        SetError(error, "connect", soError);
      } else if (error) {
        *error = "no answer within the connect time-out";
      }
      closesocket(s);
      return kNoSocket;
    }
  }
  SetOption(s, IPPROTO_TCP, TCP_NODELAY);
  return static_cast<SocketHandle>(s);
}

SocketHandle TcpListen(const std::string& address, std::uint16_t& port, std::string* error) {
  sockaddr_in at;
  if (!ToSocketAddress(address, port, at, error)) return kNoSocket;
  const SOCKET s = NewSocket(SOCK_STREAM, IPPROTO_TCP, error);
  if (s == INVALID_SOCKET) return kNoSocket;
  // Another program already listening on the port must make the bind fail,
  // as it does on POSIX.
  SetOption(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE);
  if (!BindAndName(s, at, true, port, "bind " + address, error)) return kNoSocket;
  return static_cast<SocketHandle>(s);
}

SocketHandle TcpAccept(SocketHandle listener, std::string* peer) {
  sockaddr_in from{};
  int length = sizeof from;
  const SOCKET s = accept(Handle(listener), reinterpret_cast<sockaddr*>(&from), &length);
  if (s == INVALID_SOCKET) return kNoSocket;
  SetNonBlocking(s);
  SetOption(s, IPPROTO_TCP, TCP_NODELAY);
  if (peer) *peer = AddressText(from.sin_addr) + ":" + std::to_string(ntohs(from.sin_port));
  return static_cast<SocketHandle>(s);
}

IoStatus SocketReceive(SocketHandle socket, char* buffer, std::size_t capacity,
                       std::size_t& count) {
  const int n =
      recv(Handle(socket), buffer, static_cast<int>(std::min(capacity, kLargestChunk)), 0);
  if (n > 0) {
    count = static_cast<std::size_t>(n);
    return IoStatus::Done;
  }
  if (n < 0 && WSAGetLastError() == WSAEWOULDBLOCK) return IoStatus::WouldBlock;
  return IoStatus::Closed;
}

IoStatus SocketSend(SocketHandle socket, const char* data, std::size_t length, std::size_t& count) {
  const int n = send(Handle(socket), data, static_cast<int>(std::min(length, kLargestChunk)), 0);
  if (n >= 0) {
    count = static_cast<std::size_t>(n);
    return IoStatus::Done;
  }
  return WSAGetLastError() == WSAEWOULDBLOCK ? IoStatus::WouldBlock : IoStatus::Closed;
}

SocketHandle UdpOpen(const std::string& address, std::uint16_t& port, unsigned options,
                     std::string* error) {
  sockaddr_in at;
  if (!ToSocketAddress(address, port, at, error, true)) return kNoSocket;
  const SOCKET s = NewSocket(SOCK_DGRAM, IPPROTO_UDP, error);
  if (s == INVALID_SOCKET) return kNoSocket;
  if (options & kUdpBroadcast) SetOption(s, SOL_SOCKET, SO_BROADCAST);
  if (options & kUdpReuseAddress) SetOption(s, SOL_SOCKET, SO_REUSEADDR);
  const std::string what =
      "bind udp " + (address.empty() ? "*" : address) + ":" + std::to_string(port);
  if (!BindAndName(s, at, false, port, what, error)) return kNoSocket;
  return static_cast<SocketHandle>(s);
}

SocketHandle UdpOpenBroadcastReceiver(std::uint16_t port, const std::string& interfaceAddress,
                                      std::string* error) {
  return UdpOpen(interfaceAddress, port, kUdpBroadcast, error);
}

bool UdpSendTo(SocketHandle socket, const std::string& address, std::uint16_t port,
               const char* data, std::size_t length) {
  sockaddr_in peer;
  if (!ToSocketAddress(address, port, peer, nullptr) || length > kLargestDatagram) return false;
  const int sent = sendto(Handle(socket), data, static_cast<int>(length), 0,
                          reinterpret_cast<sockaddr*>(&peer), sizeof peer);
  return sent == static_cast<int>(length);
}

DatagramStatus UdpReceiveFrom(SocketHandle socket, char* buffer, std::size_t capacity,
                              std::size_t& received, std::string& sender,
                              std::uint16_t* senderPort) {
  sockaddr_in from{};
  int fromLength = sizeof from;
  const int chunk = static_cast<int>(std::min(capacity, kLargestDatagram));
  const int n =
      recvfrom(Handle(socket), buffer, chunk, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
  DatagramStatus status = DatagramStatus::Received;
  if (n == SOCKET_ERROR) {
    switch (WSAGetLastError()) {
      case WSAEWOULDBLOCK:
        return DatagramStatus::NothingWaiting;
      case WSAECONNRESET:  // an ICMP port-unreachable from an earlier send
        return DatagramStatus::NothingWaiting;
      case WSAEMSGSIZE:  // cut to the buffer, the rest thrown away
        status = DatagramStatus::Oversized;
        break;
      default:
        return DatagramStatus::Error;
    }
  }
  received = status == DatagramStatus::Oversized ? static_cast<std::size_t>(chunk)
                                                 : static_cast<std::size_t>(n);
  sender = from.sin_family == AF_INET ? AddressText(from.sin_addr) : std::string();
  if (senderPort) *senderPort = ntohs(from.sin_port);
  return status;
}

bool SocketWaitReadable(SocketHandle socket, std::uint32_t timeoutMs) {
  return WaitFor(Handle(socket), false, timeoutMs);
}

bool SocketWaitWritable(SocketHandle socket, std::uint32_t timeoutMs) {
  return WaitFor(Handle(socket), true, timeoutMs);
}

bool WaitForSockets(std::vector<SocketWatch>& watches, long long timeoutUs, std::string* error) {
  fd_set readable;
  fd_set writable;
  fd_set failed;
  FD_ZERO(&readable);
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  for (const SocketWatch& w : watches) {
    FD_SET(Handle(w.handle), &readable);
    FD_SET(Handle(w.handle), &failed);
    if (w.write) FD_SET(Handle(w.handle), &writable);
  }
  timeval limit = Limit(timeoutUs);
  if (select(0, &readable, &writable, &failed, timeoutUs < 0 ? nullptr : &limit) == SOCKET_ERROR) {
    SetError(error, "select");
    return false;
  }
  for (SocketWatch& w : watches) {
    const SOCKET s = Handle(w.handle);
    w.ready = FD_ISSET(s, &readable) || FD_ISSET(s, &failed);
    w.writable = FD_ISSET(s, &writable) != 0;
  }
  return true;
}

void SocketClose(SocketHandle socket, SocketClosing how) {
  if (socket == kNoSocket) return;
  const SOCKET s = Handle(socket);
  switch (how) {
    case SocketClosing::Plain:
      break;
    case SocketClosing::ShutDownSending:
      shutdown(s, SD_SEND);
      break;
    case SocketClosing::ShutDownBoth:
      shutdown(s, SD_BOTH);
      break;
    case SocketClosing::Reset: {
      linger hard{1, 0};
      setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard);
      break;
    }
  }
  closesocket(s);
}

}  // namespace parlex2
