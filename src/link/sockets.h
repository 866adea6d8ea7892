// The few socket operations the LAN transport and discovery need, over
// Winsock (sockets_win32.cpp) and BSD sockets (sockets_posix.cpp). System
// error codes become text here and nowhere else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace parlex2 {

using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

// Starts / releases the sockets layer (Winsock 2.2; nothing on POSIX).
bool SocketsStartup();
void SocketsCleanup();

// Connects a TCP stream socket to `address`:`port`, waiting at most
// `timeoutMs` for the connection; the socket is returned in blocking mode.
SocketHandle TcpConnect(const std::string& address, std::uint16_t port, std::uint32_t timeoutMs,
                        std::string* error);

// Sends every byte, continuing partial sends. False on error.
bool SocketSendAll(SocketHandle socket, const char* data, std::size_t length);

enum class ReceiveStatus { Data, NothingWaiting, Closed };
// Takes at most `capacity` waiting bytes without waiting. `received` is set
// for Data. Closed covers an orderly close, a reset and any other error.
ReceiveStatus SocketReceiveNow(SocketHandle socket, char* buffer, std::size_t capacity,
                               std::size_t& received);

// Waits at most `timeoutMs` for the socket to become readable (data, close or
// error). True when it did.
bool SocketWaitReadable(SocketHandle socket, std::uint32_t timeoutMs);

// UDP for discovery. Opens a datagram socket with broadcast and address
// reuse enabled, bound to any local address at `localPort`, in non-blocking
// mode. kNoSocket on failure.
SocketHandle UdpOpenBroadcast(std::uint16_t localPort, std::string* error);

// Waits at most `timeoutMs` for the socket to accept a datagram.
bool SocketWaitWritable(SocketHandle socket, std::uint32_t timeoutMs);

// Sends one datagram to `address`:`port` (dotted IPv4). False on error.
bool UdpSendTo(SocketHandle socket, const std::string& address, std::uint16_t port,
               const char* data, std::size_t length);

enum class DatagramStatus { Received, Oversized, NothingWaiting, Error };
// Takes the next waiting datagram without waiting. Received: `received`
// bytes are in `buffer` and `sender` holds the sender's dotted IPv4 address.
// Oversized: the datagram did not fit in `capacity` bytes and was thrown away.
DatagramStatus UdpReceiveFromNow(SocketHandle socket, char* buffer, std::size_t capacity,
                                 std::size_t& received, std::string& sender);

// This computer's host name and its first IPv4 address. False when either
// cannot be found.
bool LookUpOwnAddress(std::string& hostName, std::string& address);

// Shuts down the sending side and closes.
void SocketShutdownAndClose(SocketHandle socket);
void SocketClose(SocketHandle socket);

}  // namespace parlex2
