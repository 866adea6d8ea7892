// The simulator's system calls on POSIX beside sockets: a self-pipe for the
// stop signals, and pseudo-terminals.
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "common/system_error.h"
#include "sim_system.h"

namespace parlex2::sim {
namespace {

int signalPipe[2] = {-1, -1};
std::optional<SocketsUser> sockets;

void OnSignal(int) {
  char byte = 1;
  ssize_t ignored = write(signalPipe[1], &byte, 1);
  (void)ignored;
}

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

int Fd(SocketHandle handle) { return static_cast<int>(handle); }

}  // namespace

bool StartSystem(std::string& error) {
  sockets.emplace();
  if (pipe(signalPipe) < 0) return error = LastSystemErrorText("pipe"), false;
  SetNonBlocking(signalPipe[1]);
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);  // a pty whose client has gone
  return true;
}

SocketHandle StopHandle() { return signalPipe[0]; }

void StopSystem() {
  for (int& fd : signalPipe) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
  sockets.reset();
}

bool OpenPseudoTerminal(const std::string& linkPath, PseudoTerminal& pty, std::string& error) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) < 0 || unlockpt(master) < 0) {
    error = LastSystemErrorText("pseudo-terminal");
    if (master >= 0) close(master);
    return false;
  }
  char name[256] = "";
  pty.name = ptsname_r(master, name, sizeof name) == 0 ? name : "";
  int slave = open(pty.name.c_str(), O_RDWR | O_NOCTTY);
  if (slave >= 0) {
    termios settings{};
    tcgetattr(slave, &settings);
    cfmakeraw(&settings);
    cfsetspeed(&settings, B19200);
    tcsetattr(slave, TCSANOW, &settings);
  }
  SetNonBlocking(master);
  pty.master = master;
  pty.slave = slave;
  unlink(linkPath.c_str());
  if (symlink(pty.name.c_str(), linkPath.c_str()) < 0) {
    error = LastSystemErrorText("symlink " + linkPath);
    return false;
  }
  return true;
}

void ClosePseudoTerminal(PseudoTerminal& pty) {
  if (pty.master != kNoSocket) close(Fd(pty.master));
  if (pty.slave != kNoSocket) close(Fd(pty.slave));
  pty = PseudoTerminal{};
}

IoStatus ReadPseudoTerminal(const PseudoTerminal& pty, char* buffer, std::size_t capacity,
                            std::size_t& count) {
  const ssize_t n = read(Fd(pty.master), buffer, capacity);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
    return IoStatus::WouldBlock;
  }
  if (n <= 0) return IoStatus::Closed;
  count = static_cast<std::size_t>(n);
  return IoStatus::Done;
}

IoStatus WritePseudoTerminal(const PseudoTerminal& pty, const char* data, std::size_t length,
                             std::size_t& count) {
  ssize_t n;
  do {
    n = write(Fd(pty.master), data, length);
  } while (n < 0 && errno == EINTR);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return IoStatus::WouldBlock;
  if (n <= 0) return IoStatus::Closed;
  count = static_cast<std::size_t>(n);
  return IoStatus::Done;
}

void LetPseudoTerminalDrain(const PseudoTerminal& pty) {
  // The bytes reach the slave's queue a little after the write.
  for (int i = 0; i < 100; ++i) {
    usleep(5000);
    int waiting = 0;
    if (i >= 10 && (ioctl(Fd(pty.slave), FIONREAD, &waiting) < 0 || waiting == 0)) break;
  }
}

void RemovePseudoTerminalLink(const std::string& linkPath, const PseudoTerminal& pty) {
  char target[4096];
  ssize_t length = readlink(linkPath.c_str(), target, sizeof target - 1);
  if (length > 0 && std::string(target, static_cast<std::size_t>(length)) == pty.name) {
    unlink(linkPath.c_str());
  }
}

}  // namespace parlex2::sim
