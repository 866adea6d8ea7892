// Measures the link over TCP on loopback against raw sockets in the same run:
//  (a) request/reply exchanges per second through Send + ReadLine,
//  (b) the same exchange through plain blocking sockets (the baseline),
//  (c) megabytes per second taken through ReadByte from a peer streaming lines.
// Prints the figures and the ratio a/b; exits 1 when a target is missed.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "link/instrument_link.h"
#include "link/lan.h"
#include "loopback_listener.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kExchanges = 20000;
constexpr std::size_t kStreamBytes = 256u << 20;
constexpr char kReply[] = "1.23456E2,OK\r\n";

int AcceptOne(int listener) {
  int fd = accept(listener, nullptr, nullptr);
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

// Answers every command (text up to a line feed) with one reply line.
void ReplyPeer(int listener) {
  int fd = AcceptOne(listener);
  char buffer[4096];
  for (;;) {
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    for (ssize_t i = 0; i < n; ++i) {
      if (buffer[i] == '\n') send(fd, kReply, sizeof kReply - 1, MSG_NOSIGNAL);
    }
  }
  close(fd);
}

// Streams measurement lines once the client says "stream".
void StreamPeer(int listener) {
  int fd = AcceptOne(listener);
  // The wake byte comes first; streaming starts on the command itself.
  std::string received;
  char command[64];
  while (received.find("stream\n") == std::string::npos) {
    ssize_t n = recv(fd, command, sizeof command, 0);
    if (n <= 0) break;
    received.append(command, static_cast<std::size_t>(n));
  }
  std::string block;
  while (block.size() < 65536) block += "MEAS,+1.234567E+00,+2.345678E-03,OK\r\n";
  std::size_t sent = 0;
  while (sent < kStreamBytes) {
    ssize_t n = send(fd, block.data(), block.size(), MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<std::size_t>(n);
  }
  close(fd);
}

// A peer thread serving one client on a loopback listener. On the way out the
// listener is shut (so a peer still waiting for a client gives up), the thread
// joined and the listener closed; clients declared after it hang up first.
class LoopbackPeer {
 public:
  explicit LoopbackPeer(void (*serve)(int))
      : listener_(parlex2::bench::ListenOnLoopback(port_, 4)), thread_(serve, listener_) {}
  ~LoopbackPeer() {
    shutdown(listener_, SHUT_RDWR);
    thread_.join();
    close(listener_);
  }
  std::uint16_t port() const { return port_; }

 private:
  std::uint16_t port_ = 0;
  int listener_;
  std::thread thread_;
};

struct Descriptor {
  int fd;
  ~Descriptor() { close(fd); }
};

parlex2::InstrumentLink* OpenLink(parlex2::InstrumentLink& link, std::uint16_t port) {
  link.settings.interfaceKind = parlex2::InterfaceKind::Lan;
  link.settings.ipAddress = "127.0.0.1";
  link.SetTransportFactory([port, &link](const parlex2::ConnectionSettings& s,
                                         std::unique_ptr<parlex2::Transport>& transport,
                                         std::string& error) {
    return parlex2::LanConnect(s.ipAddress, port, link.clock(), transport, error);
  });
  return link.Open() == 0 ? &link : nullptr;
}

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double LinkExchanges() {
  LoopbackPeer peer(ReplyPeer);
  parlex2::InstrumentLink link;
  if (!OpenLink(link, peer.port())) return 0;
  char line[256];
  auto start = Clock::now();
  for (int i = 0; i < kExchanges; ++i) {
    link.Send("meas?\n");
    if (link.ReadLine(line, sizeof line) <= 0) return 0;
  }
  return kExchanges / Seconds(start);
}

double RawExchanges() {
  LoopbackPeer peer(ReplyPeer);
  Descriptor client{socket(AF_INET, SOCK_STREAM, 0)};
  const int fd = client.fd;
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(peer.port());
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  connect(fd, reinterpret_cast<sockaddr*>(&at), sizeof at);
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  static const char command[] = "meas?\n";  // with its zero byte, as the link sends it
  char buffer[256];
  auto start = Clock::now();
  for (int i = 0; i < kExchanges; ++i) {
    send(fd, command, sizeof command, MSG_NOSIGNAL);
    std::size_t have = 0;
    while (have == 0 || buffer[have - 1] != '\n') {
      ssize_t n = recv(fd, buffer + have, sizeof buffer - have, 0);
      if (n <= 0) return 0;
      have += static_cast<std::size_t>(n);
    }
  }
  return kExchanges / Seconds(start);
}

double StreamMegabytesPerSecond() {
  LoopbackPeer peer(StreamPeer);
  parlex2::InstrumentLink link;
  if (!OpenLink(link, peer.port())) return 0;
  link.Send("stream\n");
  std::size_t taken = 0;
  std::uint64_t sum = 0;
  auto start = Clock::now();
  for (;;) {
    int c = link.ReadByte();
    if (c >= 0) {
      ++taken;
      sum += static_cast<unsigned>(c);
      continue;
    }
    if (c == -1) break;
    link.WaitReadable(1000);
  }
  const double rate = taken / Seconds(start) / 1e6;
  if (taken < kStreamBytes || sum == 0) {
    std::printf("stream: only %zu of %zu bytes arrived\n", taken, kStreamBytes);
    return 0;
  }
  return rate;
}

}  // namespace

int main() {
  const double link = LinkExchanges();
  const double raw = RawExchanges();
  const double stream = StreamMegabytesPerSecond();
  const double ratio = raw > 0 ? link / raw : 0;
  std::printf("(a) link Send+ReadLine exchanges/s : %10.0f\n", link);
  std::printf("(b) raw socket exchanges/s         : %10.0f\n", raw);
  std::printf("    ratio a/b                      : %10.2f  (target >= 0.80)\n", ratio);
  std::printf("(c) ReadByte stream MB/s           : %10.1f  (target >= 20)\n", stream);
  const bool met = ratio >= 0.8 && stream >= 20;
  std::printf("%s\n", met ? "targets met" : "TARGET MISSED");
  return met ? 0 : 1;
}
