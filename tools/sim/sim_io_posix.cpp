// The simulator's system calls on POSIX: BSD sockets, poll, a self-pipe for
// the stop signals, and pseudo-terminals.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "link/errno_text.h"
#include "sim_io.h"

namespace parlex2::sim {
namespace {

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
  char byte = 1;
  ssize_t ignored = write(signalPipe[1], &byte, 1);
  (void)ignored;
}

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

std::string ErrnoText(const std::string& what) { return what + ": " + parlex2::ErrnoText(errno); }

bool ToAddress(const std::string& text, in_addr& address) {
  return inet_pton(AF_INET, text.c_str(), &address) == 1;
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
  if (pipe(signalPipe) < 0) return error = ErrnoText("pipe"), false;
  SetNonBlocking(signalPipe[1]);
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  return true;
}

IoHandle StopHandle() { return signalPipe[0]; }

void StopIo() {
  for (int& fd : signalPipe) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}

IoHandle OpenListener(const std::string& address, std::uint16_t& port, std::string& error) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return error = ErrnoText("socket"), kNoHandle;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in in{};
  in.sin_family = AF_INET;
  in.sin_port = htons(port);
  if (!ToAddress(address, in.sin_addr)) {
    close(fd);
    error = "not an IPv4 address: " + address;
    return kNoHandle;
  }
  if (bind(fd, reinterpret_cast<sockaddr*>(&in), sizeof in) < 0 || listen(fd, 8) < 0) {
    error = ErrnoText("bind " + address);
    close(fd);
    return kNoHandle;
  }
  socklen_t length = sizeof in;
  getsockname(fd, reinterpret_cast<sockaddr*>(&in), &length);
  port = ntohs(in.sin_port);
  SetNonBlocking(fd);
  return fd;
}

IoHandle AcceptClient(IoHandle listener, std::string& peer) {
  sockaddr_in from{};
  socklen_t length = sizeof from;
  int fd = accept(static_cast<int>(listener), reinterpret_cast<sockaddr*>(&from), &length);
  if (fd < 0) return kNoHandle;
  SetNonBlocking(fd);
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  char text[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
  peer = std::string(text) + ":" + std::to_string(ntohs(from.sin_port));
  return fd;
}

IoHandle OpenEnquirySocket(std::uint16_t port, const std::string&, std::string& error) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return error = ErrnoText("udp socket"), kNoHandle;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
  sockaddr_in in{};
  in.sin_family = AF_INET;
  in.sin_port = htons(port);
  // Bound to the broadcast address, the socket sees the enquiries but never a
  // unicast reply meant for a program on the same port of this host.
  in.sin_addr.s_addr = htonl(INADDR_BROADCAST);
  if (bind(fd, reinterpret_cast<sockaddr*>(&in), sizeof in) < 0) {
    error = ErrnoText("bind udp " + std::to_string(port));
    close(fd);
    return kNoHandle;
  }
  SetNonBlocking(fd);
  return fd;
}

IoHandle OpenReplySocket(const std::string& address, std::string& error) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return error = ErrnoText("udp socket"), kNoHandle;
  sockaddr_in in{};
  in.sin_family = AF_INET;
  if (!address.empty()) ToAddress(address, in.sin_addr);
  if (bind(fd, reinterpret_cast<sockaddr*>(&in), sizeof in) < 0) {
    error = ErrnoText("bind udp reply socket");
    close(fd);
    return kNoHandle;
  }
  return fd;
}

bool ReceiveDatagram(IoHandle socket, Datagram& datagram) {
  char buffer[2048];
  sockaddr_in from{};
  socklen_t length = sizeof from;
  ssize_t count = recvfrom(static_cast<int>(socket), buffer, sizeof buffer, 0,
                           reinterpret_cast<sockaddr*>(&from), &length);
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
  sendto(static_cast<int>(socket), bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to),
         sizeof to);
}

IoResult ReadSome(IoHandle handle, bool, char* buffer, std::size_t capacity, std::size_t& count) {
  ssize_t n = read(static_cast<int>(handle), buffer, capacity);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
    return IoResult::kWouldBlock;
  }
  if (n <= 0) return IoResult::kClosed;
  count = static_cast<std::size_t>(n);
  return IoResult::kDone;
}

IoResult WriteSome(IoHandle handle, bool, const char* data, std::size_t length,
                   std::size_t& count) {
  ssize_t n;
  do {
    n = write(static_cast<int>(handle), data, length);
  } while (n < 0 && errno == EINTR);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return IoResult::kWouldBlock;
  if (n <= 0) return IoResult::kClosed;
  count = static_cast<std::size_t>(n);
  return IoResult::kDone;
}

void CloseClient(IoHandle socket) {
  shutdown(static_cast<int>(socket), SHUT_RDWR);
  close(static_cast<int>(socket));
}

void CloseSocket(IoHandle socket) {
  if (socket != kNoHandle) close(static_cast<int>(socket));
}

bool WaitForHandles(std::vector<Watch>& watches, long long timeoutUs, std::string& error) {
  std::vector<pollfd> fds;
  fds.reserve(watches.size());
  for (const Watch& w : watches) {
    fds.push_back(
        {static_cast<int>(w.handle), static_cast<short>(POLLIN | (w.write ? POLLOUT : 0)), 0});
  }
  timespec limit{};
  limit.tv_sec = static_cast<time_t>(timeoutUs / 1000000);
  limit.tv_nsec = static_cast<long>(timeoutUs % 1000000) * 1000;
  if (ppoll(fds.data(), fds.size(), timeoutUs < 0 ? nullptr : &limit, nullptr) < 0) {
    if (errno == EINTR) return true;
    error = ErrnoText("poll");
    return false;
  }
  for (std::size_t i = 0; i < watches.size(); ++i) {
    watches[i].ready = (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
    watches[i].writable = (fds[i].revents & POLLOUT) != 0;
  }
  return true;
}

bool OpenPseudoTerminal(const std::string& linkPath, PseudoTerminal& pty, std::string& error) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) < 0 || unlockpt(master) < 0) {
    error = ErrnoText("pseudo-terminal");
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
    error = ErrnoText("symlink " + linkPath);
    return false;
  }
  return true;
}

void ClosePseudoTerminal(PseudoTerminal& pty) {
  CloseSocket(pty.master);
  CloseSocket(pty.slave);
  pty = PseudoTerminal{};
}

void LetPseudoTerminalDrain(const PseudoTerminal& pty) {
  // The bytes reach the slave's queue a little after the write.
  for (int i = 0; i < 100; ++i) {
    usleep(5000);
    int waiting = 0;
    if (i >= 10 && (ioctl(static_cast<int>(pty.slave), FIONREAD, &waiting) < 0 || waiting == 0)) {
      break;
    }
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
