#include "support/transport_bench.h"

#include "link/lan.h"
#include "support/memory_transport.h"
#include "support/tcp_peer.h"

namespace parlex2::testing {
namespace {

class MemoryBench final : public TransportBench {
 public:
  std::string Open(InstrumentLink& link) override {
    link.settings.interfaceKind = InterfaceKind::Lan;
    UseMemoryPeer(link, peer_);
    if (link.Open() != 0) return "the memory link did not open";
    return Receive(1, 2000) == "\x14" ? "" : "no wake byte";
  }
  bool Send(std::string_view bytes) override {
    peer_->Queue(std::string(bytes));
    return true;
  }
  std::string Receive(std::size_t count, int) override {
    std::string got = peer_->written.substr(0, count);
    peer_->written.erase(0, got.size());
    return got;
  }
  bool realTime() const override { return false; }
  bool lanLines() const override { return true; }
  bool HangUp() override {
    peer_->broken = true;
    return true;
  }
  bool keepsSentAfterHangUp() const override { return true; }

 private:
  std::shared_ptr<MemoryPeer> peer_ = std::make_shared<MemoryPeer>();
};

class TcpBench final : public TransportBench {
 public:
  std::string Open(InstrumentLink& link) override {
    if (!peer_.listening()) return "the peer cannot listen";
    link.settings.interfaceKind = InterfaceKind::Lan;
    link.settings.ipAddress = peer_.address();
    const std::uint16_t port = peer_.port();
    link.SetTransportFactory([port, &link](const ConnectionSettings& s,
                                           std::unique_ptr<Transport>& transport,
                                           std::string& error) {
      return LanConnect(s.ipAddress, port, link.clock(), transport, error);
    });
    if (link.Open() != 0) return "open: " + link.LastError();
    if (!peer_.Accept()) return "no connection came";
    return Receive(2, 2000) == OnWire("\x14") ? "" : "no wake byte";
  }
  bool Send(std::string_view bytes) override { return peer_.Send(bytes); }
  std::string Receive(std::size_t count, int timeoutMs) override {
    return peer_.Receive(count, timeoutMs);
  }
  // The instrument's network interface takes the zero byte as a text's end.
  std::string OnWire(std::string_view text) const override {
    return std::string(text) + std::string(1, '\0');
  }
  bool lanLines() const override { return true; }
  bool HangUp() override {
    peer_.Close();
    return true;
  }
  bool keepsSentAfterHangUp() const override { return true; }

 private:
  TcpPeer peer_{"127.0.0.1"};
};

}  // namespace

std::vector<TransportCase> TransportCases() {
  std::vector<TransportCase> cases = {
      {"memory", [] { return std::make_unique<MemoryBench>(); }},
      {"tcp", [] { return std::make_unique<TcpBench>(); }},
  };
  for (TransportCase& serial : SerialTransportCases()) cases.push_back(std::move(serial));
  return cases;
}

}  // namespace parlex2::testing
