#include "server.h"

#include <deque>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "baud_pacer.h"
#include "discovery.h"
#include "flash_file.h"
#include "instrument.h"
#include "sim_clock.h"
#include "sim_system.h"
#include "stream_pacer.h"
#include "transcript.h"

namespace parlex2::sim {
namespace {

// Output waiting for a slow client beyond this is thrown away, so a client that
// never reads cannot make the simulator grow without bound.
constexpr std::size_t kOutputLimit = 1 << 20;

// Bytes of soak stream kept waiting in a client's output.
constexpr std::size_t kSoakFill = std::size_t{64} * 1024;

// One client: the accepted TCP socket or the pty's master side.
struct Peer {
  SocketHandle handle = kNoSocket;
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
      : options_(std::move(options)),
        instrument_(options_.instrument),
        streamPacer_(kOutputLimit / 2) {
    if (options_.baud > 0) baudPacer_.emplace(options_.baud);
  }

  int Run();

 private:
  bool OpenTcp();
  bool OpenPty();
  bool OpenDiscovery();
  void Accept();
  void ReadFrom(Peer& peer);
  void WriteTo(Peer& peer);
  void ClosePeer(Peer& peer, const char* why);
  void Schedule(Peer& peer, std::string bytes, bool close, std::uint64_t delay);
  void ScheduleAt(Peer& peer, std::string bytes, bool close, std::uint64_t dueUs);
  void RunDue();
  void SendStreamLines();
  // One round of the event loop: what to watch, how long to wait at most,
  // then serve what became ready (true: stop) and feed the streams.
  std::vector<SocketWatch> Watches();
  long long WaitUs() const;
  bool Serve(const std::vector<SocketWatch>& watches);
  void FeedStreams();
  void AnswerDatagram(SocketHandle socket, std::uint16_t port);
  void WriteFlash();
  void CloseAll();

  SimOptions options_;
  Instrument instrument_;
  TranscriptFile transcript_;
  SocketHandle listener_ = kNoSocket;
  Peer tcpClient_;
  Peer pty_;
  PseudoTerminal terminal_;
  std::vector<std::pair<SocketHandle, std::uint16_t>> udp_;
  SocketHandle udpReply_ = kNoSocket;
  std::deque<Scheduled> scheduled_;
  Peer* streamPeer_ = nullptr;  // the client that last sent: it gets the streams
  // The measurement stream keeps a backlog of at most half the output limit,
  // so a batch never overfills it.
  StreamPacer streamPacer_;
  std::optional<BaudPacer> baudPacer_;  // with --baud
  bool ptyLost_ = false;                // the pseudo-terminal could not be made again
};

// The stream holds back while the client has not taken what was sent: a slow
// reader sets the pace, the simulator's memory stays bounded.
void Simulator::SendStreamLines() {
  const std::uint64_t lines =
      streamPacer_.LinesDue(NowMs(), instrument_.StreamRate(), streamPeer_->out.size());
  std::string batch;
  for (std::uint64_t n = 0; n < lines; ++n) batch += instrument_.StreamLine();
  if (!batch.empty()) Schedule(*streamPeer_, std::move(batch), false, 0);
}

bool Simulator::OpenTcp() {
  std::string error;
  listener_ = TcpListen(options_.tcpAddress, options_.tcpPort, &error);
  if (listener_ == kNoSocket) return std::cerr << error << "\n", false;
  std::cout << "tcp " << options_.tcpAddress << ":" << options_.tcpPort << std::endl;
  return true;
}

bool Simulator::OpenPty() {
  std::string error;
  PseudoTerminal fresh;
  if (!OpenPseudoTerminal(options_.ptyPath, fresh, error)) {
    std::cerr << error << "\n";
    ClosePseudoTerminal(fresh);
    return false;
  }
  terminal_ = fresh;
  pty_ = Peer{};
  pty_.handle = terminal_.master;
  pty_.isPty = true;
  std::cout << "pty " << terminal_.name << " " << options_.ptyPath << std::endl;
  transcript_.Event("pty " + terminal_.name);
  instrument_.NewConnection();
  return true;
}

bool Simulator::OpenDiscovery() {
  std::string error;
  const std::string serveAddress = options_.tcp ? options_.tcpAddress : std::string();
  for (std::uint16_t port : {kFirstEnquiryPort, kSecondEnquiryPort}) {
    SocketHandle socket = UdpOpenBroadcastReceiver(port, serveAddress, &error);
    if (socket == kNoSocket) return std::cerr << error << "\n", false;
    udp_.emplace_back(socket, port);
  }
  // Replies come from the instrument's own address, which the search lists
  // and then connects to.
  std::uint16_t anyPort = 0;
  udpReply_ = UdpOpen(serveAddress, anyPort, 0, &error);
  if (udpReply_ == kNoSocket) return std::cerr << error << "\n", false;
  std::cout << "discovery " << kFirstEnquiryPort << " " << kSecondEnquiryPort << std::endl;
  return true;
}

void Simulator::Accept() {
  std::string from;
  SocketHandle client = TcpAccept(listener_, &from);
  if (client == kNoSocket) return;
  tcpClient_ = Peer{};
  tcpClient_.handle = client;
  transcript_.Event("client " + from);
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
    PseudoTerminal old = terminal_;
    const bool reopened = OpenPty();
    ClosePseudoTerminal(old);
    if (!reopened) {
      // Nothing is left to serve on PATH, and the closed terminal must not
      // stay watched: the run ends (status 1) instead of spinning on it.
      terminal_ = PseudoTerminal{};
      pty_ = Peer{};
      transcript_.Event("pty could not be made again");
      ptyLost_ = true;
    }
    return;
  }
  SocketClose(peer.handle, SocketClosing::ShutDownBoth);
  peer = Peer{};
}

void Simulator::ReadFrom(Peer& peer) {
  char buffer[4096];
  std::size_t count = 0;
  const IoStatus result = peer.isPty ? ReadPseudoTerminal(terminal_, buffer, sizeof buffer, count)
                                     : SocketReceive(peer.handle, buffer, sizeof buffer, count);
  if (result == IoStatus::WouldBlock) return;
  if (result == IoStatus::Closed) {
    if (!peer.isPty) ClosePeer(peer, "client closed");
    return;
  }
  std::string_view bytes(buffer, count);
  transcript_.Chunk(true, bytes);
  Instrument::Reaction reaction = instrument_.Receive(bytes);
  streamPeer_ = &peer;
  if (reaction.restarted) {
    transcript_.Event("restarted");
    WriteFlash();
  }
  if (!reaction.send.empty() || reaction.close) {
    if (baudPacer_) {
      const std::uint64_t due = baudPacer_->ReplyDue(
          NowUs(), bytes.size(), static_cast<std::uint64_t>(options_.delayMs) * 1000,
          reaction.send.size());
      ScheduleAt(peer, std::move(reaction.send), reaction.close, due);
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
    if (peer.handle == kNoSocket) continue;
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
    std::size_t count = 0;
    const IoStatus result =
        peer.isPty ? WritePseudoTerminal(terminal_, peer.out.data(), peer.out.size(), count)
                   : SocketSend(peer.handle, peer.out.data(), peer.out.size(), count);
    if (result != IoStatus::Done) break;
    transcript_.Chunk(false, std::string_view(peer.out.data(), count));
    peer.out.erase(0, count);
  }
  if (peer.out.empty() && peer.closeWhenSent) {
    if (peer.isPty) LetPseudoTerminalDrain(terminal_);
    ClosePeer(peer, "dropped the connection");
  }
}

void Simulator::AnswerDatagram(SocketHandle socket, std::uint16_t port) {
  char buffer[2048];
  std::size_t received = 0;
  std::string sender;
  std::uint16_t senderPort = 0;
  // An oversized datagram is judged by the part that fitted: no enquiry.
  const DatagramStatus status =
      UdpReceiveFrom(socket, buffer, sizeof buffer, received, sender, &senderPort);
  if (status != DatagramStatus::Received && status != DatagramStatus::Oversized) return;
  const std::string_view bytes(buffer, received);
  const std::string reply =
      status == DatagramStatus::Received
          ? DiscoveryReply(port, bytes, options_.instrument.idn, options_.tcpPort)
          : std::string();
  transcript_.Event("udp " + std::to_string(port) + " enquiry of " + std::to_string(bytes.size()) +
                    " bytes from " + sender + (reply.empty() ? ", ignored" : ", answered"));
  if (!reply.empty()) UdpSendTo(udpReply_, sender, senderPort, reply.data(), reply.size());
}

void Simulator::WriteFlash() {
  std::string error;
  if (!options_.flashPath.empty() &&
      !WriteFlashFile(options_.flashPath, instrument_.GetFlash(), error)) {
    std::cerr << error << "\n";
  }
}

void Simulator::CloseAll() {
  SocketClose(tcpClient_.handle);
  SocketClose(listener_);
  for (auto& [socket, port] : udp_) SocketClose(socket);
  SocketClose(udpReply_);
  if (terminal_.master != kNoSocket) {
    PseudoTerminal last = terminal_;
    ClosePseudoTerminal(terminal_);
    RemovePseudoTerminalLink(options_.ptyPath, last);
  }
}

std::vector<SocketWatch> Simulator::Watches() {
  std::vector<SocketWatch> watches;
  watches.push_back({StopHandle()});
  auto watch = [&](Peer& peer) {
    // A soaking client is watched for room even with nothing queued, so
    // the soak stream is topped up as soon as the last of it has gone.
    const bool soaking = &peer == streamPeer_ && instrument_.Soak().Active();
    if (peer.handle != kNoSocket) {
      watches.push_back({peer.handle, !peer.out.empty() || soaking});
    }
  };
  watch(tcpClient_);
  watch(pty_);
  // One client at a time: the next waits in the backlog until this one goes.
  if (listener_ != kNoSocket && tcpClient_.handle == kNoSocket) {
    watches.push_back({listener_});
  }
  for (auto& [socket, port] : udp_) watches.push_back({socket});
  return watches;
}

long long Simulator::WaitUs() const {
  long long timeoutUs = -1;
  if (!scheduled_.empty()) {
    const std::uint64_t nowUs = NowUs();
    timeoutUs =
        scheduled_.front().due > nowUs ? static_cast<long long>(scheduled_.front().due - nowUs) : 0;
  }
  if (instrument_.Streaming() && streamPeer_) {
    const long long wait = streamPacer_.WaitUs(NowMs(), instrument_.StreamRate());
    if (timeoutUs < 0 || wait < timeoutUs) timeoutUs = wait;
  }
  return timeoutUs;
}

bool Simulator::Serve(const std::vector<SocketWatch>& watches) {
  bool stopping = false;
  for (const SocketWatch& w : watches) {
    if (!w.ready && !w.writable) continue;
    if (w.handle == StopHandle()) {
      stopping = true;
    } else if (w.handle == listener_) {
      Accept();
    } else if (w.handle == tcpClient_.handle || w.handle == pty_.handle) {
      Peer& peer = w.handle == tcpClient_.handle ? tcpClient_ : pty_;
      if (w.writable) WriteTo(peer);
      if (peer.handle == w.handle && w.ready) ReadFrom(peer);
    } else {
      for (auto& [socket, port] : udp_) {
        if (socket == w.handle) AnswerDatagram(socket, port);
      }
    }
  }
  return stopping;
}

void Simulator::FeedStreams() {
  // The soak stream keeps the client's output topped up, as fast as the
  // client reads: straight to the output, with no delay or line pacing
  // (run a soak without --transcript, which would hold every byte).
  if (instrument_.Soak().Active() && streamPeer_ && streamPeer_->handle != kNoSocket &&
      streamPeer_->out.size() < kSoakFill) {
    instrument_.Soak().Fill(streamPeer_->out, 2 * kSoakFill);
    WriteTo(*streamPeer_);
  }
  if (instrument_.Streaming() && streamPeer_) {
    SendStreamLines();
  } else {
    streamPacer_.Stop();
  }
}

int Simulator::Run() {
  if (!transcript_.Open(options_.transcriptPath)) {
    std::cerr << "transcript " << options_.transcriptPath << ": cannot open for writing\n";
    return 1;
  }
  if ((options_.tcp && !OpenTcp()) || (!options_.ptyPath.empty() && !OpenPty()) ||
      (options_.discovery && !OpenDiscovery())) {
    CloseAll();
    return 1;
  }
  std::cout << "ready" << std::endl;

  bool stopping = false;
  int status = 0;
  while (!stopping && !ptyLost_) {
    std::vector<SocketWatch> watches = Watches();
    std::string error;
    if (!WaitForSockets(watches, WaitUs(), &error)) {
      std::cerr << error << "\n";
      status = 1;
      break;
    }
    stopping = Serve(watches);
    RunDue();
    FeedStreams();
  }

  if (ptyLost_) status = 1;
  transcript_.Event("stopped");
  CloseAll();
  WriteFlash();
  return status;
}

}  // namespace

int RunSimulator(SimOptions options) {
  StartClock();  // the transcript's times count from here
  Simulator simulator(std::move(options));
  return simulator.Run();
}

}  // namespace parlex2::sim
