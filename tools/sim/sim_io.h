// What the simulator's event loop (server.h) needs from the operating system:
// a TCP listener and its one client, the two discovery sockets, a wait on
// several handles at once, a handle that becomes readable when the user asks
// the simulator to stop, and on POSIX a pseudo-terminal standing in for a COM
// port. BSD sockets, poll and pty in sim_io_posix.cpp; Winsock and select in
// sim_io_win32.cpp (no pseudo-terminals there). System error codes become
// text here and nowhere else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace parlex2::sim {

// A socket, or on POSIX any file descriptor; kNoHandle when there is none.
using IoHandle = std::intptr_t;
inline constexpr IoHandle kNoHandle = -1;

// Starts the sockets layer (Winsock 2.2) and ignores SIGPIPE on POSIX, and
// arranges for StopHandle() to become readable on SIGTERM and SIGINT (POSIX)
// or Ctrl+C, Ctrl+Break and closing the console window (Windows). False, with
// the reason, when that fails.
bool StartIo(std::string& error);
IoHandle StopHandle();
void StopIo();

// A non-blocking TCP listener on `address`:`port` (dotted IPv4; port 0 picks a
// free one, and `port` is set to the port bound).
IoHandle OpenListener(const std::string& address, std::uint16_t& port, std::string& error);
// The next waiting client, non-blocking with Nagle off; kNoHandle when none.
// `peer` is its "address:port".
IoHandle AcceptClient(IoHandle listener, std::string& peer);

// One of the discovery ports, non-blocking. `serveAddress` is the address the
// simulator's TCP side listens on; see the platform files for what the
// socket is bound to.
IoHandle OpenEnquirySocket(std::uint16_t port, const std::string& serveAddress, std::string& error);
// A socket for the discovery replies, bound to `address` (empty: any), so the
// replies come from the address the search will then connect to.
IoHandle OpenReplySocket(const std::string& address, std::string& error);

struct Datagram {
  std::string bytes;
  std::uint32_t address = 0;  // the sender, host order
  std::uint16_t port = 0;
  std::string AddressText() const;
};
// The next waiting datagram (up to 2048 bytes). False when none.
bool ReceiveDatagram(IoHandle socket, Datagram& datagram);
void SendDatagram(IoHandle socket, const std::string& bytes, std::uint32_t address,
                  std::uint16_t port);

enum class IoResult { kDone, kWouldBlock, kClosed };
// At most `capacity` bytes from a client socket or the pty's master side;
// `count` is set for kDone. kClosed covers an orderly close and any error.
IoResult ReadSome(IoHandle handle, bool pty, char* buffer, std::size_t capacity,
                  std::size_t& count);
// Writes what it can without waiting.
IoResult WriteSome(IoHandle handle, bool pty, const char* data, std::size_t length,
                   std::size_t& count);
// Shuts a client socket down both ways and closes it.
void CloseClient(IoHandle socket);
void CloseSocket(IoHandle socket);

struct Watch {
  IoHandle handle = kNoHandle;
  bool write = false;     // also wait for room to write
  bool ready = false;     // out: readable, closed or failed
  bool writable = false;  // out
};
// Waits until a handle is ready or `timeoutUs` microseconds pass (-1: no
// limit; the --baud pacing needs finer steps than milliseconds). False on a
// failure of the wait itself (an interrupted wait is no failure).
bool WaitForHandles(std::vector<Watch>& watches, long long timeoutUs, std::string& error);

// A pseudo-terminal whose slave side a COM port of a Wine prefix (or any
// serial program) opens through the symbolic link `linkPath`. The slave is
// kept open here too, in raw mode at 19200 baud, so the master never sees a
// hang-up between clients.
struct PseudoTerminal {
  IoHandle master = kNoHandle;
  IoHandle slave = kNoHandle;
  std::string name;  // the slave's device path
};
bool OpenPseudoTerminal(const std::string& linkPath, PseudoTerminal& pty, std::string& error);
void ClosePseudoTerminal(PseudoTerminal& pty);
// Gives the client a moment to take what was written to the master before it
// is closed (closing throws away what the slave has not read yet).
void LetPseudoTerminalDrain(const PseudoTerminal& pty);
// Removes `linkPath` when it still leads to this pseudo-terminal.
void RemovePseudoTerminalLink(const std::string& linkPath, const PseudoTerminal& pty);

}  // namespace parlex2::sim
