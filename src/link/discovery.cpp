#include "link/discovery.h"

#include <algorithm>

#include "common/clock.h"
#include "common/text.h"
#include "link/lan.h"
#include "link/sockets.h"

namespace parlex2 {
namespace {

constexpr char kBroadcastAddress[] = "255.255.255.255";
constexpr int kPasses = 3;
constexpr std::uint32_t kPassMs = 250;
constexpr std::uint32_t kLookIntervalMs = 100;
constexpr std::size_t kReplyBufferSize = 1024;
constexpr std::size_t kLargestRequest = 1500;

// Waits for the socket to take the request, giving up when the wall clock's
// second has moved on, then sends it.
void SendRequest(SocketHandle socket, std::uint16_t port, std::string_view request) {
  if (request.size() > kLargestRequest) return;
  Clock& clock = GetClock();
  const int startSecond = clock.Now().second;
  const std::uint64_t startTick = clock.TickMs();
  for (;;) {
    if (SocketWaitWritable(socket, 10)) {
      UdpSendTo(socket, kBroadcastAddress, port, request.data(), request.size());
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

std::vector<FoundInstrument> UdpEnquiry(std::size_t capacity, std::uint16_t localPort,
                                        std::uint16_t destinationPort, std::string_view request,
                                        const ReplyTest& accept) {
  std::vector<FoundInstrument> entries;
  if (capacity == 0 || !SocketsStartup()) return entries;
  const SocketHandle socket = UdpOpenBroadcast(localPort, nullptr);
  std::string hostName, ownAddress;
  if (socket != kNoSocket && LookUpOwnAddress(hostName, ownAddress)) {
    Clock& clock = GetClock();
    std::vector<char> reply(kReplyBufferSize);
    for (int pass = 0; pass < kPasses; ++pass) {
      SendRequest(socket, destinationPort, request);
      const std::uint64_t start = clock.TickMs();
      for (;;) {
        std::size_t received = 0;
        std::string sender;
        DatagramStatus status;
        do {
          std::fill(reply.begin(), reply.end(), '\0');
          status = UdpReceiveFromNow(socket, reply.data(), reply.size(), received, sender);
          // A flood of oversized datagrams must not hold the pass open.
        } while (status == DatagramStatus::Oversized && clock.TickMs() - start < kPassMs);
        if (status == DatagramStatus::Received &&
            accept(std::string_view(reply.data(), received))) {
          AddFoundAddress(entries, capacity, sender);
        }
        if (clock.TickMs() - start >= kPassMs) break;
        clock.SleepMs(kLookIntervalMs);
      }
    }
  }
  SocketClose(socket);
  SocketsCleanup();
  return entries;
}

int LanFindInstruments(std::vector<FoundInstrument>& list, std::size_t capacity) {
  list = UdpEnquiry(capacity, kFirstEnquiryLocalPort, kFirstEnquiryPort, kFirstEnquiryRequest,
                    AcceptFirstEnquiryReply);
  if (list.size() < capacity) {
    auto second = UdpEnquiry(capacity - list.size(), kSecondEnquiryLocalPort, kSecondEnquiryPort,
                             kSecondEnquiryRequest, AcceptSecondEnquiryReply);
    list.insert(list.end(), second.begin(), second.end());
  }
  return static_cast<int>(list.size());
}

}  // namespace parlex2
