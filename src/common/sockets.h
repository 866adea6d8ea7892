// The one socket layer of the program, its simulator and its test peers: TCP
// clients and listeners, UDP datagrams, and waits on one or several handles,
// over BSD sockets (sockets_posix.cpp) and Winsock 2.2 (sockets_win32.cpp).
// Every socket made here is non-blocking; the calls that wait say so.
// Interrupted system calls are taken again here, and system error codes
// become text here (through system_error.h), so callers never see either.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace parlex2 {

// A socket; on POSIX any file descriptor may stand in a wait.
using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

// The sockets layer (Winsock 2.2; nothing to start on POSIX) is started by
// its first user and released when the last one lets go, so no user's end can
// pull it from under another. False when it cannot be started.
bool SocketsStartup();
void SocketsCleanup();

// Holds the sockets layer for as long as it lives. Declare it before the
// sockets it covers, so they close before the layer goes.
class SocketsUser {
 public:
  SocketsUser() : started_(SocketsStartup()) {}
  ~SocketsUser() {
    if (started_) SocketsCleanup();
  }
  SocketsUser(const SocketsUser&) = delete;
  SocketsUser& operator=(const SocketsUser&) = delete;

  bool started() const { return started_; }

 private:
  bool started_;
};

// What a read or write that does not wait came to. Closed covers an orderly
// close, a reset and any other failure.
enum class IoStatus { Done, WouldBlock, Closed };

// TCP. A stream socket connected to `address`:`port` (dotted IPv4), waiting
// at most `timeoutMs` for the connection; Nagle is off.
SocketHandle TcpConnect(const std::string& address, std::uint16_t port, std::uint32_t timeoutMs,
                        std::string* error);
// A listener on `address`:`port`; port 0 picks a free one and `port` is set
// to the port bound. A second listener on the same address and port fails on
// every platform.
SocketHandle TcpListen(const std::string& address, std::uint16_t& port, std::string* error);
// The next waiting client, Nagle off; kNoSocket when none waits. `peer`, when
// given, receives its "address:port".
SocketHandle TcpAccept(SocketHandle listener, std::string* peer = nullptr);

// At most `capacity` bytes that wait; `count` is set for Done.
IoStatus SocketReceive(SocketHandle socket, char* buffer, std::size_t capacity, std::size_t& count);
// Writes what the socket takes now; `count` is set for Done.
IoStatus SocketSend(SocketHandle socket, const char* data, std::size_t length, std::size_t& count);
// Writes every byte, waiting for room as long as the peer keeps reading.
// False when the connection failed.
bool SocketSendAll(SocketHandle socket, const char* data, std::size_t length);

// UDP. A datagram socket bound to `address` (empty: any local address) and
// `port` (0: a free one; `port` is then set to the one bound).
inline constexpr unsigned kUdpBroadcast = 1;     // may send to 255.255.255.255
inline constexpr unsigned kUdpReuseAddress = 2;  // shares its port with others
SocketHandle UdpOpen(const std::string& address, std::uint16_t& port, unsigned options,
                     std::string* error);
// A socket that hears the broadcasts sent to `port` on the network of
// `interfaceAddress` (empty: every network). POSIX binds it to the broadcast
// address, so it never takes a unicast reply meant for another program of
// this host on the same port. Windows refuses that bind but hands broadcasts
// to a socket bound to the address of the interface they arrive on; there,
// datagrams sent to that address itself reach it too.
SocketHandle UdpOpenBroadcastReceiver(std::uint16_t port, const std::string& interfaceAddress,
                                      std::string* error);
// Sends one datagram to `address`:`port` (dotted IPv4). False on error.
bool UdpSendTo(SocketHandle socket, const std::string& address, std::uint16_t port,
               const char* data, std::size_t length);

enum class DatagramStatus { Received, Oversized, NothingWaiting, Error };
// The next waiting datagram. Received: `received` bytes are in `buffer`.
// Oversized: it did not fit; the first `capacity` bytes are in `buffer`
// (`received` says so) and the rest is gone. For both, `sender` holds the
// sender's dotted IPv4 address and `senderPort` (when given) its port.
DatagramStatus UdpReceiveFrom(SocketHandle socket, char* buffer, std::size_t capacity,
                              std::size_t& received, std::string& sender,
                              std::uint16_t* senderPort = nullptr);

// Waits at most `timeoutMs` for the socket to become readable (data, close or
// error), or to take more bytes. True when it did.
bool SocketWaitReadable(SocketHandle socket, std::uint32_t timeoutMs);
bool SocketWaitWritable(SocketHandle socket, std::uint32_t timeoutMs);

struct SocketWatch {
  SocketHandle handle = kNoSocket;
  bool write = false;     // also wait for room to write
  bool ready = false;     // out: readable, closed or failed
  bool writable = false;  // out
};
// Waits until one of the handles is ready or `timeoutUs` microseconds pass
// (negative: no limit). False, with the reason, when the wait itself failed
// (an interrupted wait is no failure: it simply returns with nothing ready).
bool WaitForSockets(std::vector<SocketWatch>& watches, long long timeoutUs, std::string* error);

enum class SocketClosing {
  Plain,
  ShutDownSending,  // the peer reads to the end, then sees the close
  ShutDownBoth,
  Reset,  // abortive: the peer sees a reset
};
void SocketClose(SocketHandle socket, SocketClosing how = SocketClosing::Plain);

namespace detail {
// The platform's start and release of the layer, under the user count's lock.
bool StartSocketsLayer();
void StopSocketsLayer();
}  // namespace detail

}  // namespace parlex2
