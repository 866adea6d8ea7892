// The TCP side of the link: the sockets layer, the connection to the
// instrument's port 10001, and the one program-wide line time-out.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "link/transport.h"

namespace parlex2 {

inline constexpr char kInstrumentPortText[] = "10001";
inline constexpr std::uint16_t kInstrumentPort = 10001;
inline constexpr std::size_t kLanRingSize = 32768;
inline constexpr std::uint32_t kLanConnectTimeoutMs = 2000;
inline constexpr std::uint32_t kDefaultReadTimeoutMs = 5000;

// Starts the sockets layer once for the process (Winsock 2.2; nothing to do on
// POSIX) and counts its users. 0 on success, -1 on failure.
int LanStartup();
// Lets go of one LanStartup; the layer is released when the last user goes.
void LanCleanup();
// How many users hold the sockets layer now.
int SocketsUsers();

// Holds the sockets layer for as long as it lives. Each user of sockets (a
// TCP connection to an instrument, one discovery enquiry) owns one, so no
// user's end can release the layer under another.
class SocketsUser {
 public:
  SocketsUser() : started_(LanStartup() == 0) {}
  ~SocketsUser() {
    if (started_) LanCleanup();
  }
  SocketsUser(const SocketsUser&) = delete;
  SocketsUser& operator=(const SocketsUser&) = delete;

  bool started() const { return started_; }

 private:
  bool started_;
};

// The program-wide time-out of LanReadLine in milliseconds (5000 at start).
void LanSetTimeout(std::uint32_t milliseconds);
std::uint32_t LanGetTimeout();

// Connects to `address` (dotted IPv4) on `port` within 2 seconds; the
// transport holds the sockets layer until it is destroyed. Null on failure.
// Tests pass another port; the program always uses 10001.
std::unique_ptr<Transport> LanConnect(const std::string& address,
                                      std::uint16_t port = kInstrumentPort,
                                      std::string* error = nullptr);

}  // namespace parlex2
