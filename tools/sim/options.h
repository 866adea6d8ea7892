// The simulator's command line.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "instrument.h"

namespace parlex2::sim {

inline constexpr char kDefaultTcpAddress[] = "127.0.0.1";
inline constexpr std::uint16_t kDefaultTcpPort = 10001;

struct SimOptions {
  bool tcp = false;  // serve TCP (the default when no --pty is given)
  std::string tcpAddress = kDefaultTcpAddress;
  std::uint16_t tcpPort = kDefaultTcpPort;  // 0: any free port (printed when ready)
  std::string ptyPath;                      // empty: no pseudo-terminal
  bool discovery = false;
  std::string transcriptPath;
  std::string flashPath;
  int delayMs = 0;
  // Bytes in both directions take the time a serial line at this rate needs
  // (10 bits a byte); 0 passes them on at once.
  int baud = 0;
  InstrumentConfig instrument;
};

// Reads the command line into `options`. Returns -1 when the simulator is to
// run, otherwise the exit code: 0 after --help, which goes to `out`; 2 after
// a malformed option, whose message goes to `err`.
int ParseSimOptions(int argc, const char* const* argv, SimOptions& options, std::ostream& out,
                    std::ostream& err);

// "A.B.C.D" or "A.B.C.D:PORT" (an IPv4 address in dotted form, a port 0 to
// 65535). False when the text is neither.
bool ParseTcpEndpoint(const std::string& text, std::string& address, std::uint16_t& port);

}  // namespace parlex2::sim
