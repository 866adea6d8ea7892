// The benches of the transport conformance suite: a link opened onto one kind
// of transport, with the far end held by the test in place of the instrument.
// Memory and TCP everywhere (link_transport_test.cpp); a pseudo-terminal on
// POSIX (transport_bench_posix.cpp) and a null-modem pair of COM ports under
// Wine (transport_bench_win32.cpp).
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "link/instrument_link.h"

namespace parlex2::testing {

class TransportBench {
 public:
  virtual ~TransportBench() = default;

  // Opens `link` onto the transport and takes the wake byte at the far end.
  // Empty when ready; otherwise why not ("skip: ..." when this machine has no
  // such transport).
  virtual std::string Open(InstrumentLink& link) = 0;

  // The far end sends `bytes` to the program. Real-time benches take it from
  // any thread.
  virtual bool Send(std::string_view bytes) = 0;
  // What the program sent, until `count` bytes came or `timeoutMs` passed
  // without one.
  virtual std::string Receive(std::size_t count, int timeoutMs = 2000) = 0;
  // `text` as the far end receives it when the program sends it.
  virtual std::string OnWire(std::string_view text) const { return std::string(text); }

  // Waits pass on the system clock and the far end may run on another
  // thread; false for the memory bench, whose time-outs end at once.
  virtual bool realTime() const { return true; }
  // The far end goes away: true when this bench can do that.
  virtual bool HangUp() { return false; }

  // The error of a second open of the same port while `link` holds it, or
  // nothing when the transport has no exclusive ports here.
  virtual std::optional<std::string> OpenAgainError(InstrumentLink&) { return std::nullopt; }
  // The line speed the far end sees, where it can tell.
  virtual std::optional<std::uint32_t> LineSpeed() { return std::nullopt; }
};

struct TransportCase {
  const char* name;
  std::function<std::unique_ptr<TransportBench>()> make;
};
// Test listings name a case by its name alone.
inline void PrintTo(const TransportCase& c, std::ostream* out) { *out << c.name; }

// The serial benches of this platform.
std::vector<TransportCase> SerialTransportCases();
// Port and rate pairs this platform's serial transport must refuse to open.
std::vector<std::pair<std::string, std::uint32_t>> SerialOpenFailures();

}  // namespace parlex2::testing
