#include <winsock2.h>
#include <ws2tcpip.h>

#include "link/sockets.h"

namespace parlex2 {

namespace {
void SetError(std::string* error, const char* what, int code) {
  if (!error) return;
  char text[256] = {};
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 static_cast<DWORD>(code), 0, text, sizeof text - 1, nullptr);
  *error = std::string(what) + ": " + (text[0] ? text : "error " + std::to_string(code));
  while (!error->empty() && (error->back() == '\n' || error->back() == '\r')) error->pop_back();
}
// Waits at most `timeoutMs` for `s` to become readable or writable: 1 when it
// did, 0 on time-out, SOCKET_ERROR on failure.
int WaitFor(SOCKET s, bool write, std::uint32_t timeoutMs) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval limit{static_cast<long>(timeoutMs / 1000), static_cast<long>(timeoutMs % 1000) * 1000};
  return select(0, write ? nullptr : &set, write ? &set : nullptr, nullptr, &limit);
}
void SetBlocking(SOCKET s, bool blocking) {
  u_long mode = blocking ? 0 : 1;
  ioctlsocket(s, FIONBIO, &mode);
}
}  // namespace

bool SocketsStartup() {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
  if (LOBYTE(data.wVersion) != 2 || HIBYTE(data.wVersion) != 2) {
    WSACleanup();
    return false;
  }
  return true;
}

void SocketsCleanup() { WSACleanup(); }

SocketHandle TcpConnect(const std::string& address, std::uint16_t port, std::uint32_t timeoutMs,
                        std::string* error) {
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  if (inet_pton(AF_INET, address.c_str(), &peer.sin_addr) != 1) {
    if (error) *error = "not an IPv4 address: " + address;
    return kNoSocket;
  }
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) {
    SetError(error, "socket", WSAGetLastError());
    return kNoSocket;
  }
  SetBlocking(s, false);
  if (connect(s, reinterpret_cast<sockaddr*>(&peer), sizeof peer) == SOCKET_ERROR) {
    int code = WSAGetLastError();
    if (code != WSAEWOULDBLOCK) {
      SetError(error, "connect", code);
      closesocket(s);
      return kNoSocket;
    }
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval limit{static_cast<long>(timeoutMs / 1000), static_cast<long>(timeoutMs % 1000) * 1000};
    int ready = select(0, nullptr, &writable, &failed, &limit);
    if (ready <= 0 || !FD_ISSET(s, &writable)) {
      int soError = 0;
      int length = sizeof soError;
      getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &length);
      if (soError) {
        SetError(error, "connect", soError);
      } else if (error) {
        *error = "no answer within the connect time-out";
      }
      closesocket(s);
      return kNoSocket;
    }
  }
  SetBlocking(s, true);
  BOOL one = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  return static_cast<SocketHandle>(s);
}

bool SocketSendAll(SocketHandle socket, const char* data, std::size_t length) {
  while (length > 0) {
    int chunk = length > 0x40000000 ? 0x40000000 : static_cast<int>(length);
    int sent = send(static_cast<SOCKET>(socket), data, chunk, 0);
    if (sent == SOCKET_ERROR) return false;
    data += sent;
    length -= static_cast<std::size_t>(sent);
  }
  return true;
}

ReceiveStatus SocketReceiveNow(SocketHandle socket, char* buffer, std::size_t capacity,
                               std::size_t& received) {
  SOCKET s = static_cast<SOCKET>(socket);
  int ready = WaitFor(s, false, 0);
  if (ready == 0) return ReceiveStatus::NothingWaiting;
  if (ready == SOCKET_ERROR) return ReceiveStatus::Closed;
  int chunk = capacity > 0x40000000 ? 0x40000000 : static_cast<int>(capacity);
  int n = recv(s, buffer, chunk, 0);
  if (n > 0) {
    received = static_cast<std::size_t>(n);
    return ReceiveStatus::Data;
  }
  return ReceiveStatus::Closed;
}

bool SocketWaitReadable(SocketHandle socket, std::uint32_t timeoutMs) {
  return WaitFor(static_cast<SOCKET>(socket), false, timeoutMs) > 0;
}

SocketHandle UdpOpenBroadcast(std::uint16_t localPort, std::string* error) {
  SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) {
    SetError(error, "socket", WSAGetLastError());
    return kNoSocket;
  }
  BOOL one = TRUE;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(localPort);
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  if (setsockopt(s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&one), sizeof one) ||
      setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one), sizeof one) ||
      bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local) == SOCKET_ERROR) {
    SetError(error, "udp", WSAGetLastError());
    closesocket(s);
    return kNoSocket;
  }
  SetBlocking(s, false);
  return static_cast<SocketHandle>(s);
}

bool SocketWaitWritable(SocketHandle socket, std::uint32_t timeoutMs) {
  return WaitFor(static_cast<SOCKET>(socket), true, timeoutMs) > 0;
}

bool UdpSendTo(SocketHandle socket, const std::string& address, std::uint16_t port,
               const char* data, std::size_t length) {
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  if (inet_pton(AF_INET, address.c_str(), &peer.sin_addr) != 1) return false;
  if (length > 0x10000) return false;
  int sent = sendto(static_cast<SOCKET>(socket), data, static_cast<int>(length), 0,
                    reinterpret_cast<sockaddr*>(&peer), sizeof peer);
  return sent == static_cast<int>(length);
}

DatagramStatus UdpReceiveFromNow(SocketHandle socket, char* buffer, std::size_t capacity,
                                 std::size_t& received, std::string& sender) {
  sockaddr_in from{};
  int fromLength = sizeof from;
  int chunk = capacity > 0x10000 ? 0x10000 : static_cast<int>(capacity);
  int n = recvfrom(static_cast<SOCKET>(socket), buffer, chunk, 0,
                   reinterpret_cast<sockaddr*>(&from), &fromLength);
  if (n == SOCKET_ERROR) {
    switch (WSAGetLastError()) {
      case WSAEWOULDBLOCK:
        return DatagramStatus::NothingWaiting;
      case WSAEMSGSIZE:  // the datagram was cut to the buffer and the rest thrown away
        return DatagramStatus::Oversized;
      case WSAECONNRESET:  // an ICMP port-unreachable from an earlier send
        return DatagramStatus::NothingWaiting;
      default:
        return DatagramStatus::Error;
    }
  }
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
  shutdown(static_cast<SOCKET>(socket), SD_SEND);
  closesocket(static_cast<SOCKET>(socket));
}

void SocketClose(SocketHandle socket) {
  if (socket != kNoSocket) closesocket(static_cast<SOCKET>(socket));
}

}  // namespace parlex2
