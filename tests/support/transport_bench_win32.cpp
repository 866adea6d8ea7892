// The serial bench on Windows: a null-modem pair of COM ports that the test
// run provides (PARLEX2_TEST_COM_PORT for the program, PARLEX2_TEST_COM_PEER_PORT
// for the far end, which the test opens through the same serial transport).
// Under Wine the pair is two pseudo-terminals joined by socat: neither end can
// hang up, and a port may be opened twice.
#include <cstdlib>

#include "support/transport_bench.h"

namespace parlex2::testing {
namespace {

class ComPairBench final : public TransportBench {
 public:
  std::string Open(InstrumentLink& link) override {
    const char* port = std::getenv("PARLEX2_TEST_COM_PORT");
    const char* peerPort = std::getenv("PARLEX2_TEST_COM_PEER_PORT");
    if (!port || !peerPort) return "skip: no COM port pair in this environment";
    std::string error;
    if (OpenSerialTransport(peerPort, kUsbBaudRate, peer_, error) != TransportStatus::Ok) {
      return "far end: " + error;
    }
    peer_->SetReadTimeout(1000);
    link.settings.interfaceKind = InterfaceKind::Usb;
    link.settings.comPort = port;
    link.settings.baudRate = kUsbBaudRate;
    if (link.Open() != 0) return "open: " + link.LastError();
    return Receive(1, 2000) == "\x14" ? "" : "no wake byte";
  }
  bool Send(std::string_view bytes) override { return peer_->Write(bytes) == TransportStatus::Ok; }
  std::string Receive(std::size_t count, int timeoutMs) override {
    std::string got;
    while (got.size() < count) {
      peer_->WaitReadable(static_cast<std::uint32_t>(timeoutMs));
      unsigned char byte = 0;
      if (peer_->ReadByte(byte) != TransportStatus::Ok) break;
      got.push_back(static_cast<char>(byte));
    }
    return got;
  }

 private:
  std::unique_ptr<Transport> peer_;
};

}  // namespace

std::vector<TransportCase> SerialTransportCases() {
  return {{"com", [] { return std::make_unique<ComPairBench>(); }}};
}

std::vector<std::pair<std::string, std::uint32_t>> SerialOpenFailures() {
  return {{"COM199", 9600}};
}

}  // namespace parlex2::testing
