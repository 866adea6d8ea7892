// Finding instruments on the local subnet: two UDP broadcast enquiries that
// the instruments' network interfaces answer, each sent three times.
//
// Runs on the UI thread (about two seconds in all) or the command line's main
// thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/sockets.h"

namespace parlex2 {

inline constexpr std::size_t kFoundListCapacity = 256;
inline constexpr std::size_t kFoundAddressMax = 15;       // dotted IPv4 in 16 bytes
inline constexpr std::size_t kFoundDescriptionMax = 127;  // 128 bytes

struct FoundInstrument {
  std::string address;      // dotted IPv4 of the instrument that answered
  std::string description;  // the *IDN? reply, filled by the probe
};

// The two enquiries. Both go to 255.255.255.255.
inline constexpr std::uint16_t kFirstEnquiryLocalPort = 65534;
inline constexpr std::uint16_t kFirstEnquiryPort = 65535;
inline constexpr std::uint16_t kSecondEnquiryLocalPort = 30718;
inline constexpr std::uint16_t kSecondEnquiryPort = 30718;
inline constexpr std::string_view kFirstEnquiryRequest = "X";
inline constexpr char kSecondEnquiryBytes[] = {0x00, 0x00, 0x00, static_cast<char>(0xF6)};
inline constexpr std::string_view kSecondEnquiryRequest(kSecondEnquiryBytes, 4);

// The replies each enquiry accepts. First: at least 26 bytes, 'A' first, and a
// '/' whose following text begins with the instrument port 10001 in decimal.
// Second: exactly 30 bytes with 0xF7 as the fourth.
bool AcceptFirstEnquiryReply(std::string_view reply);
bool AcceptSecondEnquiryReply(std::string_view reply);

using ReplyTest = std::function<bool(std::string_view reply)>;

// Adds `address` to `entries` unless it is there already or the list holds
// `capacity` entries. True when it was added.
bool AddFoundAddress(std::vector<FoundInstrument>& entries, std::size_t capacity,
                     const std::string& address);

// The datagram socket of one enquiry, bound to its local port with broadcast
// enabled. The real one holds the sockets layer while it lives; tests stand
// in a fake that answers from a list.
class EnquirySocket {
 public:
  virtual ~EnquirySocket() = default;
  // Waits at most `timeoutMs` for the socket to take a datagram.
  virtual bool WaitWritable(std::uint32_t timeoutMs) = 0;
  virtual void SendTo(const std::string& address, std::uint16_t port, std::string_view data) = 0;
  // The next waiting datagram, as UdpReceiveFrom.
  virtual DatagramStatus ReceiveNow(char* buffer, std::size_t capacity, std::size_t& received,
                                    std::string& sender) = 0;
};

// Opens the socket of an enquiry on `localPort`; null when it cannot be set
// up (no sockets layer, no socket, no port).
using EnquirySocketOpener = std::function<std::unique_ptr<EnquirySocket>(std::uint16_t localPort)>;
std::unique_ptr<EnquirySocket> OpenEnquirySocket(std::uint16_t localPort);

// One enquiry: broadcasts `request` from `localPort` to `destinationPort`
// three times, collecting for about 300 ms after each the senders of replies
// that pass `accept`; every datagram waiting is taken at each look. Returns
// the addresses found (at most `capacity`, no address twice); none when the
// socket cannot be set up.
std::vector<FoundInstrument> UdpEnquiry(std::size_t capacity, std::uint16_t localPort,
                                        std::uint16_t destinationPort, std::string_view request,
                                        const ReplyTest& accept,
                                        const EnquirySocketOpener& open = OpenEnquirySocket);

// Runs the first enquiry, then the second into what room is left, and puts
// what they found into `list` (at most `capacity` entries). An instrument that
// answers both enquiries is listed twice. Returns the number of entries.
int LanFindInstruments(std::vector<FoundInstrument>& list,
                       std::size_t capacity = kFoundListCapacity,
                       const EnquirySocketOpener& open = OpenEnquirySocket);

}  // namespace parlex2
