// The TCP side of the link: the connection to the instrument's port 10001,
// over the program's socket layer (common/sockets.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "link/transport.h"

namespace parlex2 {

class Clock;

inline constexpr char kInstrumentPortText[] = "10001";
inline constexpr std::uint16_t kInstrumentPort = 10001;
inline constexpr std::size_t kLanRingSize = 32768;
inline constexpr std::uint32_t kLanConnectTimeoutMs = 2000;

// Connects to `address` (dotted IPv4) on `port` within 2 seconds; the
// transport holds the sockets layer until it is destroyed, and times its line
// reads on `clock`. Failed, with the reason in `error`, when no connection
// was made. Tests pass another port; the program always uses 10001.
TransportStatus LanConnect(const std::string& address, std::uint16_t port, Clock& clock,
                           std::unique_ptr<Transport>& transport, std::string& error);

}  // namespace parlex2
