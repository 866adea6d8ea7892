// The instrument's network module answering the two UDP discovery enquiries
// the program broadcasts when it searches the subnet.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace parlex2::sim {

// The first enquiry: the byte 'X' to port 65535. The reply begins with 'A',
// describes the instrument and names its TCP port after a '/', at least 26
// bytes in all.
inline constexpr std::uint16_t kFirstEnquiryPort = 65535;
// The second enquiry: 00 00 00 F6 to port 30718. The reply is 30 bytes with
// F7 in its fourth.
inline constexpr std::uint16_t kSecondEnquiryPort = 30718;
inline constexpr std::size_t kFirstReplyMinimum = 26;
inline constexpr std::size_t kSecondReplyLength = 30;

// The reply to `request` received on `port`, or empty when the request is no
// enquiry (anything else is ignored, as the module ignores it). `idn` gives
// the instrument's description, `tcpPort` the port it serves.
std::string DiscoveryReply(std::uint16_t port, std::string_view request, std::string_view idn,
                           std::uint16_t tcpPort);

}  // namespace parlex2::sim
