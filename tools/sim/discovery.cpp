#include "discovery.h"

namespace parlex2::sim {

std::string DiscoveryReply(std::uint16_t port, std::string_view request, std::string_view idn,
                           std::uint16_t tcpPort) {
  if (port == kFirstEnquiryPort && request == "X") {
    // "A", the maker, model and serial number, then "/" and the port.
    std::string reply = "A";
    int fields = 0;
    for (char c : idn.substr(0, 64)) {
      if (c == ',' && ++fields == 3) break;
      reply += c == ',' ? ' ' : c == '/' ? '-' : c;
    }
    reply += " /" + std::to_string(tcpPort);
    while (reply.size() < kFirstReplyMinimum) reply += ' ';
    return reply;
  }
  if (port == kSecondEnquiryPort && request == std::string_view("\0\0\0\xF6", 4)) {
    std::string reply(kSecondReplyLength, '\0');
    reply[3] = static_cast<char>(0xF7);
    // Module firmware release and a locally administered hardware address.
    reply[8] = 6;
    reply[9] = 1;
    const unsigned char hardware[6] = {0x02, 0x50, 0x58, 0x32, 0x00, 0x01};
    for (int i = 0; i < 6; ++i) reply[24 + i] = static_cast<char>(hardware[i]);
    return reply;
  }
  return {};
}

}  // namespace parlex2::sim
