// The simulator's system calls on Windows: Winsock 2.2 and select. A console
// control handler stands in for the POSIX stop signals: it wakes the event
// loop through a datagram to a loopback socket. There are no pseudo-terminals.
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include "sim_io.h"

namespace parlex2::sim {
namespace {

SOCKET stopReceiver = INVALID_SOCKET;
SOCKET stopSender = INVALID_SOCKET;
sockaddr_in stopAddress{};
HANDLE loopEnded = nullptr;

std::string ErrorText(const std::string& what, int code) {
  char* text = nullptr;
  DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = what + ": ";
  if (length && text) {
    message.append(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.')) {
      message.pop_back();
    }
  } else {
    message += "error " + std::to_string(code);
  }
  if (text) LocalFree(text);
  return message;
}

std::string SocketError(const std::string& what) { return ErrorText(what, WSAGetLastError()); }

void SetNonBlocking(SOCKET s) {
  u_long on = 1;
  ioctlsocket(s, FIONBIO, &on);
}

bool ToAddress(const std::string& text, in_addr& address) {
  return inet_pton(AF_INET, text.c_str(), &address) == 1;
}

BOOL WINAPI OnConsoleControl(DWORD event) {
  char byte = 1;
  sendto(stopSender, &byte, 1, 0, reinterpret_cast<const sockaddr*>(&stopAddress),
         sizeof stopAddress);
  // Closing the console window ends the process when this handler returns:
  // give the loop the time to write the transcript's end and the flash.
  if (event == CTRL_CLOSE_EVENT && loopEnded) WaitForSingleObject(loopEnded, 4000);
  return TRUE;
}

}  // namespace

std::string Datagram::AddressText() const {
  in_addr in{};
  in.s_addr = htonl(address);
  char text[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &in, text, sizeof text);
  return text;
}

bool StartIo(std::string& error) {
  WSADATA data;
  int code = WSAStartup(MAKEWORD(2, 2), &data);
  if (code != 0) return error = ErrorText("WSAStartup", code), false;
  stopReceiver = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  stopSender = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (stopReceiver == INVALID_SOCKET || stopSender == INVALID_SOCKET) {
    return error = SocketError("udp socket"), false;
  }
  stopAddress.sin_family = AF_INET;
  stopAddress.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof stopAddress;
  if (bind(stopReceiver, reinterpret_cast<sockaddr*>(&stopAddress), sizeof stopAddress) != 0 ||
      getsockname(stopReceiver, reinterpret_cast<sockaddr*>(&stopAddress), &length) != 0) {
    return error = SocketError("bind the stop socket"), false;
  }
  SetNonBlocking(stopReceiver);
  loopEnded = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  return true;
}

IoHandle StopHandle() { return static_cast<IoHandle>(stopReceiver); }

void StopIo() {
  SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  if (loopEnded) SetEvent(loopEnded);
  closesocket(stopReceiver);
  closesocket(stopSender);
  stopReceiver = stopSender = INVALID_SOCKET;
  WSACleanup();
}

IoHandle OpenListener(const std::string& address, std::uint16_t& port, std::string& error) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return error = SocketError("socket"), kNoHandle;
  // Another program already listening on the port must make the bind fail,
  // as it does on POSIX.
  BOOL exclusive = TRUE;
  setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
             sizeof exclusive);
  sockaddr_in in{};
  in.sin_family = AF_INET;
  in.sin_port = htons(port);
  if (!ToAddress(address, in.sin_addr)) {
    closesocket(s);
    error = "not an IPv4 address: " + address;
    return kNoHandle;
  }
  if (bind(s, reinterpret_cast<sockaddr*>(&in), sizeof in) != 0 || listen(s, 8) != 0) {
    error = SocketError("bind " + address);
    closesocket(s);
    return kNoHandle;
  }
  int length = sizeof in;
  getsockname(s, reinterpret_cast<sockaddr*>(&in), &length);
  port = ntohs(in.sin_port);
  SetNonBlocking(s);
  return static_cast<IoHandle>(s);
}

IoHandle AcceptClient(IoHandle listener, std::string& peer) {
  sockaddr_in from{};
  int length = sizeof from;
  SOCKET s = accept(static_cast<SOCKET>(listener), reinterpret_cast<sockaddr*>(&from), &length);
  if (s == INVALID_SOCKET) return kNoHandle;
  SetNonBlocking(s);
  BOOL one = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  char text[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
  peer = std::string(text) + ":" + std::to_string(ntohs(from.sin_port));
  return static_cast<IoHandle>(s);
}

IoHandle OpenEnquirySocket(std::uint16_t port, const std::string& serveAddress,
                           std::string& error) {
  SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) return error = SocketError("udp socket"), kNoHandle;
  BOOL one = TRUE;
  setsockopt(s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&one), sizeof one);
  // Windows will not bind to the broadcast address, but hands broadcasts to a
  // socket bound to the address of the interface they arrive on. Bound to the
  // address the simulator serves, it hears the enquiries of that network (or
  // of every network for 0.0.0.0), and on 127.0.0.x enquiries sent to it
  // directly.
  sockaddr_in in{};
  in.sin_family = AF_INET;
  in.sin_port = htons(port);
  if (!serveAddress.empty()) ToAddress(serveAddress, in.sin_addr);
  if (bind(s, reinterpret_cast<sockaddr*>(&in), sizeof in) != 0) {
    error = SocketError("bind udp " + std::to_string(port));
    closesocket(s);
    return kNoHandle;
  }
  SetNonBlocking(s);
  return static_cast<IoHandle>(s);
}

IoHandle OpenReplySocket(const std::string& address, std::string& error) {
  SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) return error = SocketError("udp socket"), kNoHandle;
  sockaddr_in in{};
  in.sin_family = AF_INET;
  if (!address.empty()) ToAddress(address, in.sin_addr);
  if (bind(s, reinterpret_cast<sockaddr*>(&in), sizeof in) != 0) {
    error = SocketError("bind udp reply socket");
    closesocket(s);
    return kNoHandle;
  }
  return static_cast<IoHandle>(s);
}

bool ReceiveDatagram(IoHandle socket, Datagram& datagram) {
  char buffer[2048];
  sockaddr_in from{};
  int length = sizeof from;
  int count = recvfrom(static_cast<SOCKET>(socket), buffer, sizeof buffer, 0,
                       reinterpret_cast<sockaddr*>(&from), &length);
  // A datagram longer than the buffer fails with WSAEMSGSIZE: it is gone.
  if (count < 0) return false;
  datagram.bytes.assign(buffer, static_cast<std::size_t>(count));
  datagram.address = ntohl(from.sin_addr.s_addr);
  datagram.port = ntohs(from.sin_port);
  return true;
}

void SendDatagram(IoHandle socket, const std::string& bytes, std::uint32_t address,
                  std::uint16_t port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(address);
  to.sin_port = htons(port);
  sendto(static_cast<SOCKET>(socket), bytes.data(), static_cast<int>(bytes.size()), 0,
         reinterpret_cast<sockaddr*>(&to), sizeof to);
}

IoResult ReadSome(IoHandle handle, bool, char* buffer, std::size_t capacity, std::size_t& count) {
  int n = recv(static_cast<SOCKET>(handle), buffer, static_cast<int>(capacity), 0);
  if (n < 0 && WSAGetLastError() == WSAEWOULDBLOCK) return IoResult::kWouldBlock;
  if (n <= 0) return IoResult::kClosed;
  count = static_cast<std::size_t>(n);
  return IoResult::kDone;
}

IoResult WriteSome(IoHandle handle, bool, const char* data, std::size_t length,
                   std::size_t& count) {
  int n = send(static_cast<SOCKET>(handle), data, static_cast<int>(length), 0);
  if (n < 0 && WSAGetLastError() == WSAEWOULDBLOCK) return IoResult::kWouldBlock;
  if (n <= 0) return IoResult::kClosed;
  count = static_cast<std::size_t>(n);
  return IoResult::kDone;
}

void CloseClient(IoHandle socket) {
  shutdown(static_cast<SOCKET>(socket), SD_BOTH);
  closesocket(static_cast<SOCKET>(socket));
}

void CloseSocket(IoHandle socket) {
  if (socket != kNoHandle) closesocket(static_cast<SOCKET>(socket));
}

bool WaitForHandles(std::vector<Watch>& watches, long long timeoutUs, std::string& error) {
  fd_set readable;
  fd_set writable;
  fd_set failed;
  FD_ZERO(&readable);
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  for (const Watch& w : watches) {
    FD_SET(static_cast<SOCKET>(w.handle), &readable);
    FD_SET(static_cast<SOCKET>(w.handle), &failed);
    if (w.write) FD_SET(static_cast<SOCKET>(w.handle), &writable);
  }
  timeval limit{};
  limit.tv_sec = static_cast<long>(timeoutUs / 1000000);
  limit.tv_usec = static_cast<long>(timeoutUs % 1000000);
  if (select(0, &readable, &writable, &failed, timeoutUs < 0 ? nullptr : &limit) == SOCKET_ERROR) {
    error = SocketError("select");
    return false;
  }
  for (Watch& w : watches) {
    const SOCKET s = static_cast<SOCKET>(w.handle);
    w.ready = FD_ISSET(s, &readable) || FD_ISSET(s, &failed);
    w.writable = FD_ISSET(s, &writable) != 0;
  }
  return true;
}

bool OpenPseudoTerminal(const std::string&, PseudoTerminal&, std::string& error) {
  error = "--pty: there are no pseudo-terminals on Windows; serve TCP with --tcp instead";
  return false;
}

void ClosePseudoTerminal(PseudoTerminal& pty) { pty = PseudoTerminal{}; }
void LetPseudoTerminalDrain(const PseudoTerminal&) {}
void RemovePseudoTerminalLink(const std::string&, const PseudoTerminal&) {}

}  // namespace parlex2::sim
