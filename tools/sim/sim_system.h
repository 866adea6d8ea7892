// What the simulator's event loop (server.h) needs from the operating system
// beside sockets (common/sockets.h): a handle that becomes readable when the
// user asks the simulator to stop, and on POSIX a pseudo-terminal standing in
// for a COM port. A self-pipe, signals and pty in sim_system_posix.cpp; a
// console control handler and a loopback datagram in sim_system_win32.cpp
// (no pseudo-terminals there).
#pragma once

#include <string>

#include "common/sockets.h"

namespace parlex2::sim {

// Starts the sockets layer, and arranges for StopHandle() to become readable
// on SIGTERM and SIGINT (POSIX) or Ctrl+C, Ctrl+Break and closing the console
// window (Windows). False, with the reason, when that fails.
bool StartSystem(std::string& error);
SocketHandle StopHandle();
void StopSystem();

// A pseudo-terminal whose slave side a COM port of a Wine prefix (or any
// serial program) opens through the symbolic link `linkPath`. The slave is
// kept open here too, in raw mode at 19200 baud, so the master never sees a
// hang-up between clients. The master is non-blocking and may stand in a
// WaitForSockets.
struct PseudoTerminal {
  SocketHandle master = kNoSocket;
  SocketHandle slave = kNoSocket;
  std::string name;  // the slave's device path
};
bool OpenPseudoTerminal(const std::string& linkPath, PseudoTerminal& pty, std::string& error);
void ClosePseudoTerminal(PseudoTerminal& pty);
// At most `capacity` bytes from the master side; `count` is set for Done.
IoStatus ReadPseudoTerminal(const PseudoTerminal& pty, char* buffer, std::size_t capacity,
                            std::size_t& count);
// Writes what the master side takes now.
IoStatus WritePseudoTerminal(const PseudoTerminal& pty, const char* data, std::size_t length,
                             std::size_t& count);
// Gives the client a moment to take what was written to the master before it
// is closed (closing throws away what the slave has not read yet).
void LetPseudoTerminalDrain(const PseudoTerminal& pty);
// Removes `linkPath` when it still leads to this pseudo-terminal.
void RemovePseudoTerminalLink(const std::string& linkPath, const PseudoTerminal& pty);

}  // namespace parlex2::sim
