// What every transport of the link must do, run against each of them (the
// in-memory one of the tests, TCP, and the serial line of the platform), with
// the test holding the far end in place of the instrument. Where the LAN and
// the serial line differ by design (line rules, results), the case says so.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "common/sockets.h"
#include "link/discovery.h"
#include "link/instrument_link.h"
#include "link/lan.h"
#include "support/memory_transport.h"
#include "support/transport_bench.h"

namespace parlex2 {
namespace {

using testing::TransportBench;
using testing::TransportCase;

using Steady = std::chrono::steady_clock;

std::int64_t MsSince(Steady::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - start).count();
}

// The next line the link reads, once it waited up to `waitMs` for a byte.
std::pair<int, std::string> Line(InstrumentLink& link, std::uint32_t waitMs = 1000) {
  char buffer[256];
  link.WaitReadable(waitMs);
  const int result = link.ReadLine(buffer, sizeof buffer);
  return {result, buffer};
}

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
  bool HangUp() override {
    peer_->broken = true;
    return true;
  }

 private:
  std::shared_ptr<testing::MemoryPeer> peer_ = std::make_shared<testing::MemoryPeer>();
};

// The instrument's network interface on a loopback port of its own.
class TcpBench final : public TransportBench {
 public:
  ~TcpBench() override {
    SocketClose(client_);
    SocketClose(listener_);
  }
  std::string Open(InstrumentLink& link) override {
    std::uint16_t port = 0;
    listener_ = TcpListen("127.0.0.1", port, nullptr);
    if (listener_ == kNoSocket) return "cannot listen";
    link.settings.interfaceKind = InterfaceKind::Lan;
    link.SetTransportFactory([port, &link](const ConnectionSettings&,
                                           std::unique_ptr<Transport>& transport,
                                           std::string& error) {
      return LanConnect("127.0.0.1", port, link.clock(), transport, error);
    });
    if (link.Open() != 0) return "open: " + link.LastError();
    if (SocketWaitReadable(listener_, 5000)) client_ = TcpAccept(listener_);
    if (client_ == kNoSocket) return "no connection came";
    return Receive(2, 2000) == OnWire("\x14") ? "" : "no wake byte";
  }
  bool Send(std::string_view bytes) override {
    return SocketSendAll(client_, bytes.data(), bytes.size());
  }
  std::string Receive(std::size_t count, int timeoutMs) override {
    std::string got;
    std::string buffer(65536, '\0');
    while (got.size() < count &&
           SocketWaitReadable(client_, static_cast<std::uint32_t>(timeoutMs))) {
      std::size_t n = 0;
      const IoStatus status =
          SocketReceive(client_, buffer.data(), std::min(buffer.size(), count - got.size()), n);
      if (status == IoStatus::Closed) break;
      if (status == IoStatus::Done) got.append(buffer.data(), n);
    }
    return got;
  }
  // The instrument's network interface takes the zero byte as a text's end.
  std::string OnWire(std::string_view text) const override {
    return std::string(text) + std::string(1, '\0');
  }
  bool HangUp() override {
    SocketClose(client_);
    client_ = kNoSocket;
    return true;
  }

 private:
  SocketsUser sockets_;  // first in, last out
  SocketHandle listener_ = kNoSocket;
  SocketHandle client_ = kNoSocket;
};

// Every bench of this platform, memory and TCP first.
std::vector<TransportCase> TransportCases() {
  std::vector<TransportCase> cases = {
      {"memory", [] { return std::make_unique<MemoryBench>(); }},
      {"tcp", [] { return std::make_unique<TcpBench>(); }},
  };
  for (TransportCase& serial : testing::SerialTransportCases()) cases.push_back(std::move(serial));
  return cases;
}

class TransportConformance : public ::testing::TestWithParam<TransportCase> {
 protected:
  void SetUp() override {
    bench_ = GetParam().make();
    const std::string why = bench_->Open(link_);
    if (why.rfind("skip: ", 0) == 0) GTEST_SKIP() << why.substr(6);
    ASSERT_EQ(why, "");
  }

  // The link follows the LAN's line rules or the serial line's by its
  // interface kind, whatever carries the bytes.
  bool lan() const { return link_.settings.interfaceKind == InterfaceKind::Lan; }
  // A reply line that did not end: the LAN's -1, the serial line's length.
  int Unended(int length) const { return lan() ? -1 : length; }

  std::unique_ptr<TransportBench> bench_;
  InstrumentLink link_;
};

TEST_P(TransportConformance, SendWritesTheTextAsItIsAndWhole) {
  EXPECT_EQ(link_.Send("*IDN?\n"), lan() ? 0 : 6);
  EXPECT_EQ(bench_->Receive(99, 300), bench_->OnWire("*IDN?\n"));
  const std::string big(64 * 1024, 'q');
  // The far end takes it while it is written, or (in memory) once it was.
  auto taken = std::async(bench_->realTime() ? std::launch::async : std::launch::deferred,
                          [&] { return bench_->Receive(bench_->OnWire(big).size(), 5000); });
  EXPECT_EQ(link_.Write(big), TransportStatus::Ok);
  const std::string got = taken.get();
  EXPECT_TRUE(got == bench_->OnWire(big)) << got.size() << " bytes";
}

TEST_P(TransportConformance, ReadLineFollowsTheLineRulesOfItsTransport) {
  bench_->Send("OK\r\n\r\nOK\n" + std::string(300, 'y') + "\r\nafter\n" +
               std::string("a\0b\r\n", 5));
  using Lines = std::vector<std::pair<int, std::string>>;
  // LAN: a carriage return is dropped and the line feed ends the line; the
  // rest of an overlong line is dropped; a zero byte is stored and counted.
  // Serial: the text ends at the first carriage return, a bare line feed
  // stays; the rest of an overlong line waits for the next read.
  const Lines expected = lan()
                             ? Lines{{2, "OK"},    {0, ""}, {2, "OK"}, {255, std::string(255, 'y')},
                                     {5, "after"}, {3, "a"}}
                             : Lines{{2, "OK"},
                                     {0, ""},
                                     {3, "OK\n"},
                                     {255, std::string(255, 'y')},
                                     {45, std::string(45, 'y')},
                                     {6, "after\n"},
                                     {1, "a"}};
  for (const auto& line : expected) EXPECT_EQ(Line(link_), line);
}

// Silence times out, leaving nothing waiting; a slow reply comes whole (each
// byte restarts the time-out); a line that never ends cannot hold ReadLine.
TEST_P(TransportConformance, ReadLineTimesOutOnSilenceAndEndlessLinesButNotOnASlowReply) {
  link_.SetReadTimeout(200);
  const auto silent = Steady::now();
  EXPECT_EQ(Line(link_, 0).first, Unended(0));
  if (bench_->realTime()) {
    EXPECT_GE(MsSince(silent), 150);
  }
  EXPECT_EQ(link_.ReadByte(), -2);
  if (!bench_->realTime()) GTEST_SKIP() << "no time passes here";
  link_.SetReadTimeout(300);
  bench_->Send("par");
  EXPECT_EQ(Line(link_, 0), std::pair(Unended(3), std::string("par")));
  // Bytes every 120 ms keep a 300 ms time-out from running out.
  std::thread trickle([this] {
    for (char c : std::string("ok\r\n")) {
      std::this_thread::sleep_for(std::chrono::milliseconds(120));
      bench_->Send(std::string(1, c));
    }
  });
  EXPECT_EQ(Line(link_, 0), std::pair(2, std::string("ok")));
  trickle.join();
  link_.SetReadTimeout(200);
  std::atomic<bool> stop{false};
  std::thread chatter([&] {
    const auto start = Steady::now();
    while (!stop && MsSince(start) < 5000 && bench_->Send("xxxxxxxx")) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  char buffer[64];
  const auto start = Steady::now();
  const int result = link_.ReadLine(buffer, sizeof buffer);
  const auto took = MsSince(start);
  stop = true;
  chatter.join();
  // The LAN gives up at twice the time-out; the serial line when the buffer
  // is full.
  EXPECT_EQ(result, Unended(63));
  if (lan()) {
    EXPECT_GE(took, 390);
  }
  EXPECT_LT(took, 2000);
  EXPECT_EQ(std::string(buffer), std::string(63, 'x'));
}

TEST_P(TransportConformance, ABurstLargerThanTheLanRingArrivesWholeAndInOrder) {
  std::string burst;
  for (int i = 0; burst.size() < kLanRingSize + 8000; ++i) {
    burst += "line " + std::to_string(i) + "\r\n";
  }
  std::thread writer;
  if (bench_->realTime()) {
    writer = std::thread([&] { bench_->Send(burst); });
    // Let the far end fill every buffer on the way before anything is taken.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  } else {
    bench_->Send(burst);
  }
  std::string got;
  while (got.size() < burst.size()) {
    const int c = link_.ReadByte();
    ASSERT_NE(c, -1);
    if (c == -2) {
      link_.WaitReadable(1000);
      continue;
    }
    got.push_back(static_cast<char>(c));
  }
  if (writer.joinable()) writer.join();
  EXPECT_TRUE(got == burst);
}

TEST_P(TransportConformance, TheFarEndGoingAwayBreaksTheLinkOnceWhatItSentIsTaken) {
  bench_->Send("last\r\nAB");
  // A connection's close comes after the bytes sent before it; a serial
  // line's hang-up may take what was still on its way.
  if (lan() && !bench_->HangUp()) GTEST_SKIP() << "cannot hang up";
  EXPECT_EQ(Line(link_), std::pair(4, std::string("last")));
  for (int c : {'A', 'B'}) {
    link_.WaitReadable(1000);
    EXPECT_EQ(link_.ReadByte(), c);
  }
  if (!lan() && !bench_->HangUp()) GTEST_SKIP() << "cannot hang up";
  link_.WaitReadable(1000);
  EXPECT_EQ(link_.ReadByte(), -1);
  EXPECT_EQ(link_.ReadByte(), -1);
  // Reading and draining end at once, not after a time-out.
  const auto start = Steady::now();
  EXPECT_LE(Line(link_, 0).first, 0);
  link_.Drain(1000);
  if (bench_->realTime()) {
    EXPECT_LT(MsSince(start), 500);
  }
}

TEST_P(TransportConformance, APortThisProgramHoldsIsBusyForOthers) {
  const std::optional<std::string> error = bench_->OpenAgainError(link_);
  if (!error) GTEST_SKIP() << "no exclusive ports here";
  EXPECT_NE(error->find("busy"), std::string::npos) << *error;
}

TEST_P(TransportConformance, AUsbLinkRunsAt19200WhateverTheSettingsHold) {
  const std::optional<std::uint32_t> speed = bench_->LineSpeed();
  if (!speed) GTEST_SKIP() << "the far end cannot tell its speed";
  EXPECT_EQ(*speed, 19200u);
}

INSTANTIATE_TEST_SUITE_P(Transports, TransportConformance, ::testing::ValuesIn(TransportCases()),
                         [](const ::testing::TestParamInfo<TransportCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(TransportOpen, FailuresSayWhy) {
  SocketsUser sockets;
  std::uint16_t freePort = 0;
  SocketClose(TcpListen("127.0.0.1", freePort, nullptr));
  for (const auto& [address, port] : std::vector<std::pair<std::string, std::uint16_t>>{
           {"127.0.0.1", freePort}, {"999.1.1.1", kInstrumentPort}, {"", kInstrumentPort}}) {
    std::unique_ptr<Transport> transport;
    std::string error;
    EXPECT_EQ(LanConnect(address, port, SystemClock(), transport, error), TransportStatus::Failed);
    EXPECT_EQ(transport, nullptr);
    EXPECT_FALSE(error.empty()) << address;
  }
  for (const auto& [port, rate] : testing::SerialOpenFailures()) {
    std::unique_ptr<Transport> transport;
    std::string error;
    EXPECT_EQ(OpenSerialTransport(port, rate, transport, error), TransportStatus::Failed) << port;
    EXPECT_EQ(transport, nullptr);
    EXPECT_NE(error.find(port), std::string::npos) << error;
  }
}

// Two links, a LAN link over no sockets and a discovery socket: each holds
// the sockets layer (Winsock's) until it ends, so closing one, or closing one
// twice, leaves the other working.
TEST(SocketsLayer, EachUserHoldsItUntilItsOwnEnd) {
  TcpBench benchA, benchB;
  InstrumentLink a, b, memory;
  ASSERT_EQ(benchA.Open(a), "");
  ASSERT_EQ(benchB.Open(b), "");
  MemoryBench memoryBench;
  ASSERT_EQ(memoryBench.Open(memory), "");
  memory.Close();
  ASSERT_NE(OpenEnquirySocket(0), nullptr);  // set up and closed, nothing sent
  a.Close();
  a.Close();
  benchB.Send("still here\r\n");
  EXPECT_EQ(Line(b), std::pair(10, std::string("still here")));
  EXPECT_EQ(b.Send("more\n"), 0);
  EXPECT_EQ(benchB.Receive(6, 2000), benchB.OnWire("more\n"));
}

}  // namespace
}  // namespace parlex2
