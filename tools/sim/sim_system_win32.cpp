// The simulator's system calls on Windows beside sockets: a console control
// handler stands in for the POSIX stop signals and wakes the event loop
// through a datagram to a loopback socket. There are no pseudo-terminals.
#include <windows.h>

#include <optional>

#include "sim_system.h"

namespace parlex2::sim {
namespace {

std::optional<SocketsUser> sockets;
SocketHandle stopReceiver = kNoSocket;
SocketHandle stopSender = kNoSocket;
std::uint16_t stopPort = 0;
HANDLE loopEnded = nullptr;

BOOL WINAPI OnConsoleControl(DWORD event) {
  const char byte = 1;
  UdpSendTo(stopSender, "127.0.0.1", stopPort, &byte, 1);
  // Closing the console window ends the process when this handler returns:
  // give the loop the time to write the transcript's end and the flash.
  if (event == CTRL_CLOSE_EVENT && loopEnded) WaitForSingleObject(loopEnded, 4000);
  return TRUE;
}

}  // namespace

bool StartSystem(std::string& error) {
  sockets.emplace();
  if (!sockets->started()) return error = "the sockets layer could not be started", false;
  std::uint16_t senderPort = 0;
  stopReceiver = UdpOpen("127.0.0.1", stopPort, 0, &error);
  stopSender = UdpOpen("127.0.0.1", senderPort, 0, &error);
  if (stopReceiver == kNoSocket || stopSender == kNoSocket) return false;
  loopEnded = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  return true;
}

SocketHandle StopHandle() { return stopReceiver; }

void StopSystem() {
  SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  if (loopEnded) SetEvent(loopEnded);
  SocketClose(stopReceiver);
  SocketClose(stopSender);
  stopReceiver = stopSender = kNoSocket;
  sockets.reset();
}

bool OpenPseudoTerminal(const std::string&, PseudoTerminal&, std::string& error) {
  error = "--pty: there are no pseudo-terminals on Windows; serve TCP with --tcp instead";
  return false;
}

void ClosePseudoTerminal(PseudoTerminal& pty) { pty = PseudoTerminal{}; }
IoStatus ReadPseudoTerminal(const PseudoTerminal&, char*, std::size_t, std::size_t&) {
  return IoStatus::Closed;
}
IoStatus WritePseudoTerminal(const PseudoTerminal&, const char*, std::size_t, std::size_t&) {
  return IoStatus::Closed;
}
void LetPseudoTerminalDrain(const PseudoTerminal&) {}
void RemovePseudoTerminalLink(const std::string&, const PseudoTerminal&) {}

}  // namespace parlex2::sim
