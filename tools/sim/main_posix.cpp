// parlex2-sim: serves the simulated instrument on a TCP port and/or a
// pseudo-terminal, answers the discovery enquiries, keeps the transcript and
// writes the flash. One poll loop moves the bytes; instrument.h does the rest.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <chrono>
#include <iterator>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "discovery.h"
#include "instrument.h"
#include "options.h"
#include "transcript.h"

namespace parlex2::sim {
namespace {

// Output waiting for a slow client beyond this is thrown away, so a client that
// never reads cannot make the simulator grow without bound.
constexpr std::size_t kOutputLimit = 1 << 20;

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
  char byte = 1;
  ssize_t ignored = write(signalPipe[1], &byte, 1);
  (void)ignored;
}

std::uint64_t NowMs() {
  static const auto start = std::chrono::steady_clock::now();
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now() - start)
                                        .count());
}

std::uint64_t NowUs() {
  static const auto start = std::chrono::steady_clock::now();
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                        std::chrono::steady_clock::now() - start)
                                        .count());
}

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

std::string ErrnoText(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

class Transcript {
 public:
  bool Open(const std::string& path) {
    if (path.empty()) return true;
    file_ = std::fopen(path.c_str(), "w");
    return file_ != nullptr;
  }
  ~Transcript() {
    if (file_) std::fclose(file_);
  }
  void Chunk(bool received, std::string_view bytes) {
    Write(FormatTranscriptChunk(NowMs(), received, bytes));
  }
  void Event(std::string_view text) { Write(FormatTranscriptEvent(NowMs(), text)); }

 private:
  void Write(const std::string& line) {
    if (!file_) return;
    std::fputs(line.c_str(), file_);
    std::fflush(file_);
  }
  std::FILE* file_ = nullptr;
};

// One client: the accepted TCP socket or the pty's master side.
struct Peer {
  int fd = -1;
  bool isPty = false;
  std::string out;  // accepted for sending, not yet written
  bool closeWhenSent = false;
};

struct Scheduled {
  std::uint64_t due = 0;  // microseconds
  Peer* peer = nullptr;
  std::string bytes;
  bool close = false;
};

class Simulator {
 public:
  explicit Simulator(SimOptions options)
      : options_(std::move(options)), instrument_(options_.instrument) {}

  int Run();

 private:
  bool OpenTcp();
  bool OpenPty();
  void ClosePty();
  bool OpenUdp(std::uint16_t port);
  bool OpenUdpReply();
  void Accept();
  void ReadFrom(Peer& peer);
  void WriteTo(Peer& peer);
  void ClosePeer(Peer& peer, const char* why);
  void Schedule(Peer& peer, std::string bytes, bool close, std::uint64_t delay);
  void ScheduleAt(Peer& peer, std::string bytes, bool close, std::uint64_t dueUs);
  // Microseconds `count` bytes take on a line at the --baud rate.
  std::uint64_t WireUs(std::size_t count) const {
    return static_cast<std::uint64_t>(count) * 10000000u / static_cast<std::uint64_t>(options_.baud);
  }
  void RunDue();
  void AnswerDatagram(int fd, std::uint16_t port);
  void WriteFlash();

  SimOptions options_;
  Instrument instrument_;
  Transcript transcript_;
  int listener_ = -1;
  Peer tcpClient_;
  Peer pty_;
  int ptySlave_ = -1;  // held open so the master never sees a hang-up between clients
  std::string ptyName_;
  std::vector<std::pair<int, std::uint16_t>> udp_;
  int udpReply_ = -1;
  std::deque<Scheduled> scheduled_;
  Peer* streamPeer_ = nullptr;
  // The stream's pace: lines sent since it (re)started at streamStartMs_.
  std::uint64_t streamStartMs_ = 0;
  std::uint64_t streamSent_ = 0;
  bool streamRunning_ = false;
  void SendStreamLines();
  // With --baud: when the line in each direction is free again (microseconds).
  std::uint64_t receiveBusyUntil_ = 0;
  std::uint64_t sendBusyUntil_ = 0;
};

// The stream keeps to its rate in whole batches (a rate above 1000 lines a
// second is more than one line a millisecond), and holds back while the client
// has not taken what was sent: a slow reader sets the pace, the simulator's
// memory stays bounded.
void Simulator::SendStreamLines() {
  constexpr std::size_t kBacklogLimit = kOutputLimit / 2;  // a batch never overfills it
  constexpr std::uint64_t kBatchLimit = 5000;
  const std::uint64_t rate = static_cast<std::uint64_t>(options_.instrument.streamRate);
  const std::uint64_t now = NowMs();
  if (!streamRunning_) {
    streamRunning_ = true;
    streamStartMs_ = now;
    streamSent_ = 0;
  }
  if (streamPeer_->out.size() > kBacklogLimit) {
    streamStartMs_ = now - streamSent_ * 1000 / rate;  // no burst to catch up with
    return;
  }
  const std::uint64_t due = (now - streamStartMs_) * rate / 1000 + 1;
  std::string batch;
  for (std::uint64_t n = 0; streamSent_ < due && n < kBatchLimit; ++n, ++streamSent_) {
    batch += instrument_.StreamLine();
  }
  if (!batch.empty()) Schedule(*streamPeer_, std::move(batch), false, 0);
}

bool Simulator::OpenTcp() {
  listener_ = socket(AF_INET, SOCK_STREAM, 0);
  if (listener_ < 0) return std::cerr << ErrnoText("socket") << "\n", false;
  int one = 1;
  setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(options_.tcpPort);
  inet_pton(AF_INET, options_.tcpAddress.c_str(), &address.sin_addr);
  if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0) {
    std::cerr << ErrnoText(("bind " + options_.tcpAddress).c_str()) << "\n";
    return false;
  }
  if (listen(listener_, 8) < 0) return std::cerr << ErrnoText("listen") << "\n", false;
  socklen_t length = sizeof address;
  getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
  options_.tcpPort = ntohs(address.sin_port);
  SetNonBlocking(listener_);
  std::cout << "tcp " << options_.tcpAddress << ":" << options_.tcpPort << std::endl;
  return true;
}

bool Simulator::OpenPty() {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) < 0 || unlockpt(master) < 0) {
    std::cerr << ErrnoText("pseudo-terminal") << "\n";
    if (master >= 0) close(master);
    return false;
  }
  const char* name = ptsname(master);
  ptyName_ = name ? name : "";
  ptySlave_ = open(ptyName_.c_str(), O_RDWR | O_NOCTTY);
  if (ptySlave_ >= 0) {
    termios settings{};
    tcgetattr(ptySlave_, &settings);
    cfmakeraw(&settings);
    cfsetspeed(&settings, B19200);
    tcsetattr(ptySlave_, TCSANOW, &settings);
  }
  SetNonBlocking(master);
  pty_ = Peer{};
  pty_.fd = master;
  pty_.isPty = true;
  unlink(options_.ptyPath.c_str());
  if (symlink(ptyName_.c_str(), options_.ptyPath.c_str()) < 0) {
    std::cerr << ErrnoText(("symlink " + options_.ptyPath).c_str()) << "\n";
    return false;
  }
  std::cout << "pty " << ptyName_ << " " << options_.ptyPath << std::endl;
  transcript_.Event("pty " + ptyName_);
  instrument_.NewConnection();
  return true;
}

void Simulator::ClosePty() {
  if (pty_.fd >= 0) close(pty_.fd);
  if (ptySlave_ >= 0) close(ptySlave_);
  pty_ = Peer{};
  ptySlave_ = -1;
}

bool Simulator::OpenUdp(std::uint16_t port) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return std::cerr << ErrnoText("udp socket") << "\n", false;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  // Bound to the broadcast address, the socket sees the enquiries but never a
  // unicast reply meant for a program on the same port of this host.
  address.sin_addr.s_addr = htonl(INADDR_BROADCAST);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0) {
    std::cerr << ErrnoText(("bind udp " + std::to_string(port)).c_str()) << "\n";
    close(fd);
    return false;
  }
  SetNonBlocking(fd);
  udp_.emplace_back(fd, port);
  return true;
}

bool Simulator::OpenUdpReply() {
  udpReply_ = socket(AF_INET, SOCK_DGRAM, 0);
  if (udpReply_ < 0) return std::cerr << ErrnoText("udp socket") << "\n", false;
  // Replies come from the instrument's own address, which the search lists
  // and then connects to.
  sockaddr_in address{};
  address.sin_family = AF_INET;
  if (options_.tcp) inet_pton(AF_INET, options_.tcpAddress.c_str(), &address.sin_addr);
  if (bind(udpReply_, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0) {
    std::cerr << ErrnoText("bind udp reply socket") << "\n";
    return false;
  }
  return true;
}

void Simulator::Accept() {
  sockaddr_in from{};
  socklen_t length = sizeof from;
  int fd = accept(listener_, reinterpret_cast<sockaddr*>(&from), &length);
  if (fd < 0) return;
  SetNonBlocking(fd);
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  tcpClient_ = Peer{};
  tcpClient_.fd = fd;
  char text[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
  transcript_.Event("client " + std::string(text) + ":" + std::to_string(ntohs(from.sin_port)));
  instrument_.NewConnection();
}

void Simulator::ClosePeer(Peer& peer, const char* why) {
  transcript_.Event(why);
  // Replies still waiting for their delay die with the connection.
  for (auto it = scheduled_.begin(); it != scheduled_.end();) {
    it = it->peer == &peer ? scheduled_.erase(it) : it + 1;
  }
  if (streamPeer_ == &peer) streamPeer_ = nullptr;
  if (peer.isPty) {
    // A serial line cannot be closed; unplugging is the nearest thing: the
    // client's port fails, and PATH then leads to a fresh pseudo-terminal
    // (made before the old one goes, so it gets another name).
    Peer old = pty_;
    int oldSlave = ptySlave_;
    OpenPty();
    close(old.fd);
    if (oldSlave >= 0) close(oldSlave);
    return;
  }
  shutdown(peer.fd, SHUT_RDWR);
  close(peer.fd);
  peer = Peer{};
}

void Simulator::ReadFrom(Peer& peer) {
  char buffer[4096];
  ssize_t count = read(peer.fd, buffer, sizeof buffer);
  if (count < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (count <= 0) {
    if (!peer.isPty) ClosePeer(peer, "client closed");
    return;
  }
  std::string_view bytes(buffer, static_cast<std::size_t>(count));
  transcript_.Chunk(true, bytes);
  Instrument::Reaction reaction = instrument_.Receive(bytes);
  streamPeer_ = &peer;
  if (reaction.restarted) {
    transcript_.Event("restarted");
    WriteFlash();
  }
  if (!reaction.send.empty() || reaction.close) {
    if (options_.baud > 0) {
      // The command arrives byte by byte; the reply starts after it (and the
      // --delay) once the line is free, and is whole when its last byte is.
      const std::uint64_t received = std::max(NowUs(), receiveBusyUntil_) + WireUs(bytes.size());
      receiveBusyUntil_ = received;
      const std::uint64_t start =
          std::max(received + static_cast<std::uint64_t>(options_.delayMs) * 1000, sendBusyUntil_);
      sendBusyUntil_ = start + WireUs(reaction.send.size());
      ScheduleAt(peer, std::move(reaction.send), reaction.close, sendBusyUntil_);
    } else {
      Schedule(peer, std::move(reaction.send), reaction.close,
               static_cast<std::uint64_t>(options_.delayMs));
    }
  }
}

void Simulator::Schedule(Peer& peer, std::string bytes, bool close, std::uint64_t delay) {
  ScheduleAt(peer, std::move(bytes), close, NowUs() + delay * 1000);
}

void Simulator::ScheduleAt(Peer& peer, std::string bytes, bool close, std::uint64_t dueUs) {
  // Kept in order of due time (paced and unpaced replies never mix, so this
  // is nearly always an append).
  auto at = scheduled_.end();
  while (at != scheduled_.begin() && std::prev(at)->due > dueUs) --at;
  scheduled_.insert(at, {dueUs, &peer, std::move(bytes), close});
  RunDue();
}

void Simulator::RunDue() {
  std::uint64_t now = NowUs();
  while (!scheduled_.empty() && scheduled_.front().due <= now) {
    Scheduled item = std::move(scheduled_.front());
    scheduled_.pop_front();
    Peer& peer = *item.peer;
    if (peer.fd < 0) continue;
    if (peer.out.size() + item.bytes.size() <= kOutputLimit) {
      peer.out += item.bytes;
    } else {
      transcript_.Event("output dropped: the client does not read");
    }
    if (item.close) peer.closeWhenSent = true;
    WriteTo(peer);
  }
}

void Simulator::WriteTo(Peer& peer) {
  while (!peer.out.empty()) {
    ssize_t count = write(peer.fd, peer.out.data(), peer.out.size());
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    transcript_.Chunk(false, std::string_view(peer.out.data(), static_cast<std::size_t>(count)));
    peer.out.erase(0, static_cast<std::size_t>(count));
  }
  if (peer.out.empty() && peer.closeWhenSent) {
    // Closing the master throws away what the client has not read yet, so
    // give it a moment to take the last reply first.
    // The bytes reach the slave's queue a little after the write.
    for (int i = 0; peer.isPty && i < 100; ++i) {
      usleep(5000);
      int waiting = 0;
      if (i >= 10 && (ioctl(ptySlave_, FIONREAD, &waiting) < 0 || waiting == 0)) break;
    }
    ClosePeer(peer, "dropped the connection");
  }
}

void Simulator::AnswerDatagram(int fd, std::uint16_t port) {
  char buffer[2048];
  sockaddr_in from{};
  socklen_t length = sizeof from;
  ssize_t count =
      recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
  if (count < 0) return;
  std::string reply =
      DiscoveryReply(port, std::string_view(buffer, static_cast<std::size_t>(count)),
                     options_.instrument.idn, options_.tcpPort);
  char text[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
  transcript_.Event("udp " + std::to_string(port) + " enquiry of " + std::to_string(count) +
                    " bytes from " + text + (reply.empty() ? ", ignored" : ", answered"));
  if (!reply.empty()) {
    sendto(udpReply_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), length);
  }
}

void Simulator::WriteFlash() {
  if (options_.flashPath.empty()) return;
  // Written beside and renamed, so a reader never sees half a dump.
  std::string temporary = options_.flashPath + ".part";
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    file << instrument_.GetFlash().Dump();
    if (!file) {
      std::cerr << "cannot write " << temporary << "\n";
      return;
    }
  }
  std::rename(temporary.c_str(), options_.flashPath.c_str());
}

int Simulator::Run() {
  if (!transcript_.Open(options_.transcriptPath)) {
    std::cerr << ErrnoText(("transcript " + options_.transcriptPath).c_str()) << "\n";
    return 1;
  }
  if (options_.tcp && !OpenTcp()) return 1;
  if (!options_.ptyPath.empty() && !OpenPty()) return 1;
  if (options_.discovery) {
    if (!OpenUdp(kFirstEnquiryPort) || !OpenUdp(kSecondEnquiryPort) || !OpenUdpReply()) return 1;
    std::cout << "discovery " << kFirstEnquiryPort << " " << kSecondEnquiryPort << std::endl;
  }
  std::cout << "ready" << std::endl;

  bool stopping = false;
  while (!stopping) {
    std::vector<pollfd> fds;
    fds.push_back({signalPipe[0], POLLIN, 0});
    auto watch = [&](Peer& peer) {
      if (peer.fd >= 0) {
        fds.push_back({peer.fd, static_cast<short>(POLLIN | (peer.out.empty() ? 0 : POLLOUT)), 0});
      }
    };
    watch(tcpClient_);
    watch(pty_);
    // One client at a time: the next waits in the backlog until this one goes.
    if (listener_ >= 0 && tcpClient_.fd < 0) fds.push_back({listener_, POLLIN, 0});
    for (auto& [fd, port] : udp_) fds.push_back({fd, POLLIN, 0});

    std::uint64_t now = NowMs();
    long long timeoutUs = -1;
    if (!scheduled_.empty()) {
      const std::uint64_t nowUs = NowUs();
      timeoutUs = scheduled_.front().due > nowUs
                      ? static_cast<long long>(scheduled_.front().due - nowUs)
                      : 0;
    }
    if (instrument_.Streaming() && streamPeer_) {
      // The next line is due within a millisecond or two at any rate above
      // 500 a second; slower rates wait for it.
      const std::uint64_t rate = static_cast<std::uint64_t>(options_.instrument.streamRate);
      long long wait = 1000;
      if (streamRunning_ && rate < 1000) {
        const std::uint64_t next = streamStartMs_ + streamSent_ * 1000 / rate;
        wait = next > now ? static_cast<long long>(next - now) * 1000 : 0;
      }
      if (timeoutUs < 0 || wait < timeoutUs) timeoutUs = wait;
    }
    timespec timeout{};
    timeout.tv_sec = static_cast<time_t>(timeoutUs / 1000000);
    timeout.tv_nsec = static_cast<long>(timeoutUs % 1000000) * 1000;
    if (ppoll(fds.data(), fds.size(), timeoutUs < 0 ? nullptr : &timeout, nullptr) < 0 &&
        errno != EINTR) {
      std::cerr << ErrnoText("poll") << "\n";
      break;
    }

    for (const pollfd& p : fds) {
      if (!p.revents) continue;
      if (p.fd == signalPipe[0]) {
        stopping = true;
      } else if (p.fd == listener_) {
        Accept();
      } else if (p.fd == tcpClient_.fd || p.fd == pty_.fd) {
        Peer& peer = p.fd == tcpClient_.fd ? tcpClient_ : pty_;
        if (p.revents & POLLOUT) WriteTo(peer);
        if (peer.fd == p.fd && (p.revents & (POLLIN | POLLHUP | POLLERR))) ReadFrom(peer);
      } else {
        for (auto& [fd, port] : udp_) {
          if (fd == p.fd) AnswerDatagram(fd, port);
        }
      }
    }
    RunDue();
    if (instrument_.Streaming() && streamPeer_) {
      SendStreamLines();
    } else {
      streamRunning_ = false;
    }
  }

  transcript_.Event("stopped");
  if (tcpClient_.fd >= 0) close(tcpClient_.fd);
  if (listener_ >= 0) close(listener_);
  for (auto& [fd, port] : udp_) close(fd);
  if (udpReply_ >= 0) close(udpReply_);
  if (pty_.fd >= 0) {
    ClosePty();
    char target[4096];
    ssize_t length = readlink(options_.ptyPath.c_str(), target, sizeof target - 1);
    if (length > 0 && std::string(target, static_cast<std::size_t>(length)) == ptyName_) {
      unlink(options_.ptyPath.c_str());
    }
  }
  WriteFlash();
  return 0;
}

}  // namespace
}  // namespace parlex2::sim

int main(int argc, char** argv) {
  using namespace parlex2::sim;
  NowMs();  // the transcript's times count from here
  SimOptions options;
  int exitCode = ParseSimOptions(argc, argv, options, std::cout, std::cerr);
  if (exitCode >= 0) return exitCode;

  if (pipe(signalPipe) < 0) return 1;
  SetNonBlocking(signalPipe[1]);
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  Simulator simulator(std::move(options));
  return simulator.Run();
}
