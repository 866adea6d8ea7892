#include "link/discovery.h"

#include <algorithm>

#include "common/clock.h"
#include "common/sockets.h"
#include "common/text.h"
#include "link/lan.h"

namespace parlex2 {
namespace {

constexpr char kBroadcastAddress[] = "255.255.255.255";
constexpr int kPasses = 3;
constexpr std::uint32_t kPassMs = 250;
constexpr std::uint32_t kLookIntervalMs = 100;
constexpr std::size_t kReplyBufferSize = 1024;
constexpr std::size_t kLargestRequest = 1500;

class UdpEnquirySocket final : public EnquirySocket {
 public:
  explicit UdpEnquirySocket(SocketHandle socket) : socket_(socket) {}
  ~UdpEnquirySocket() override { SocketClose(socket_); }
  UdpEnquirySocket(const UdpEnquirySocket&) = delete;
  UdpEnquirySocket& operator=(const UdpEnquirySocket&) = delete;

  bool WaitWritable(std::uint32_t timeoutMs) override {
    return SocketWaitWritable(socket_, timeoutMs);
  }
  void SendTo(const std::string& address, std::uint16_t port, std::string_view data) override {
    UdpSendTo(socket_, address, port, data.data(), data.size());
  }
  DatagramStatus ReceiveNow(char* buffer, std::size_t capacity, std::size_t& received,
                            std::string& sender) override {
    return UdpReceiveFrom(socket_, buffer, capacity, received, sender);
  }

 private:
  SocketsUser sockets_;  // let go only after the destructor has closed the socket
  SocketHandle socket_;
};

// Waits for the socket to take the request, giving up when the wall clock's
// second has moved on, then sends it.
void SendRequest(EnquirySocket& socket, std::uint16_t port, std::string_view request) {
  if (request.size() > kLargestRequest) return;
  Clock& clock = GetClock();
  const int startSecond = clock.Now().second;
  const std::uint64_t startTick = clock.TickMs();
  for (;;) {
    if (socket.WaitWritable(10)) {
      socket.SendTo(kBroadcastAddress, port, request);
      return;
    }
    // The tick bound keeps a clock that stands still from holding us here.
    if (clock.Now().second != startSecond || clock.TickMs() - startTick >= 1000) return;
  }
}

}  // namespace

bool AcceptFirstEnquiryReply(std::string_view reply) {
  if (reply.size() < 26 || reply[0] != 'A') return false;
  const std::size_t slash = reply.find('/');
  if (slash == std::string_view::npos) return false;
  const std::string_view after = reply.substr(slash + 1);
  if (after.empty() || after[0] < '0' || after[0] > '9') return false;
  return AtoI(after) == kInstrumentPort;
}

bool AcceptSecondEnquiryReply(std::string_view reply) {
  return reply.size() == 30 && static_cast<unsigned char>(reply[3]) == 0xF7;
}

bool AddFoundAddress(std::vector<FoundInstrument>& entries, std::size_t capacity,
                     const std::string& address) {
  if (address.empty() || address.size() > kFoundAddressMax) return false;
  for (const auto& entry : entries) {
    if (entry.address == address) return false;
  }
  if (entries.size() >= capacity) return false;
  entries.push_back({address, {}});
  return true;
}

std::unique_ptr<EnquirySocket> OpenEnquirySocket(std::uint16_t localPort) {
  SocketsUser sockets;  // holds the layer while the socket is made
  if (!sockets.started()) return nullptr;
  const SocketHandle socket = UdpOpen("", localPort, kUdpBroadcast | kUdpReuseAddress, nullptr);
  if (socket == kNoSocket) return nullptr;
  return std::make_unique<UdpEnquirySocket>(socket);
}

std::vector<FoundInstrument> UdpEnquiry(std::size_t capacity, std::uint16_t localPort,
                                        std::uint16_t destinationPort, std::string_view request,
                                        const ReplyTest& accept, const EnquirySocketOpener& open) {
  std::vector<FoundInstrument> entries;
  if (capacity == 0) return entries;
  const std::unique_ptr<EnquirySocket> socket = open(localPort);
  if (!socket) return entries;
  Clock& clock = GetClock();
  std::vector<char> reply(kReplyBufferSize);
  auto passOver = [&clock](std::uint64_t start) { return clock.TickMs() - start >= kPassMs; };
  for (int pass = 0; pass < kPasses; ++pass) {
    SendRequest(*socket, destinationPort, request);
    const std::uint64_t start = clock.TickMs();
    for (;;) {
      // Every datagram waiting now: many instruments answer at once, and
      // refused or oversized datagrams must not use up the looks. A flood
      // cannot hold the pass open past its time.
      for (;;) {
        std::size_t received = 0;
        std::string sender;
        std::fill(reply.begin(), reply.end(), '\0');
        const DatagramStatus status =
            socket->ReceiveNow(reply.data(), reply.size(), received, sender);
        if (status == DatagramStatus::NothingWaiting || status == DatagramStatus::Error) break;
        if (status == DatagramStatus::Received &&
            accept(std::string_view(reply.data(), received))) {
          AddFoundAddress(entries, capacity, sender);
        }
        if (passOver(start)) break;
      }
      if (passOver(start)) break;
      clock.SleepMs(kLookIntervalMs);
    }
  }
  return entries;
}

int LanFindInstruments(std::vector<FoundInstrument>& list, std::size_t capacity,
                       const EnquirySocketOpener& open) {
  list = UdpEnquiry(capacity, kFirstEnquiryLocalPort, kFirstEnquiryPort, kFirstEnquiryRequest,
                    AcceptFirstEnquiryReply, open);
  if (list.size() < capacity) {
    auto second = UdpEnquiry(capacity - list.size(), kSecondEnquiryLocalPort, kSecondEnquiryPort,
                             kSecondEnquiryRequest, AcceptSecondEnquiryReply, open);
    list.insert(list.end(), second.begin(), second.end());
  }
  return static_cast<int>(list.size());
}

}  // namespace parlex2
