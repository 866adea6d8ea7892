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
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(s, &readable);
  timeval now{0, 0};
  int ready = select(0, &readable, nullptr, nullptr, &now);
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
  SOCKET s = static_cast<SOCKET>(socket);
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(s, &readable);
  timeval limit{static_cast<long>(timeoutMs / 1000), static_cast<long>(timeoutMs % 1000) * 1000};
  return select(0, &readable, nullptr, nullptr, &limit) > 0;
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
