// The link over TCP against a loopback peer standing in for the instrument.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "link/discovery.h"
#include "link/instrument_link.h"
#include "link/lan.h"
#include "support/memory_transport.h"
#include "support/tcp_peer.h"

namespace parlex2 {
namespace {

using testing::TcpPeer;

// A link connected to a fresh peer; the peer has seen and dropped the wake.
class LanLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(peer_.listening());
    link_.settings.interfaceKind = InterfaceKind::Lan;
    link_.settings.ipAddress = peer_.address();
    const std::uint16_t port = peer_.port();
    link_.SetTransportFactory([port](const ConnectionSettings& s, std::string* error) {
      return LanConnect(s.ipAddress, port, error);
    });
    ASSERT_EQ(link_.Open(), 0) << link_.LastError();
    ASSERT_TRUE(peer_.Accept());
    // The wake byte goes out with the zero byte that ends every text sent.
    EXPECT_EQ(peer_.Receive(2), std::string("\x14\0", 2));
  }
  void TearDown() override {
    link_.Close();
    LanSetTimeout(kDefaultReadTimeoutMs);
  }
  static std::int64_t MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
  }
  TcpPeer peer_{"127.0.0.1"};
  InstrumentLink link_;
};

TEST_F(LanLinkTest, ReadLineDropsCarriageReturnsAndKeepsToTheBuffer) {
  peer_.Send(
      "OK\r\n"
      "plain\n"
      "lfcr\n\r" +
      std::string(300, 'x') + "\r\nafter\n");
  char buffer[256];
  EXPECT_EQ(link_.ReadLine(buffer, sizeof buffer), 2);
  EXPECT_STREQ(buffer, "OK");
  EXPECT_EQ(link_.ReadLine(buffer, sizeof buffer), 5);
  EXPECT_EQ(link_.ReadLine(buffer, sizeof buffer), 4);
  EXPECT_STREQ(buffer, "lfcr");
  EXPECT_EQ(link_.ReadLine(buffer, sizeof buffer), 255);
  EXPECT_EQ(std::string(buffer), std::string(255, 'x'));
  EXPECT_EQ(link_.ReadLine(buffer, sizeof buffer), 5);  // the long line's rest was dropped
  EXPECT_STREQ(buffer, "after");
  // A zero byte is stored like any other: the line counts it, its text ends there.
  peer_.Send(std::string("a\0b\r\n", 5));
  EXPECT_EQ(link_.ReadLine(buffer, sizeof buffer), 3);
  EXPECT_STREQ(buffer, "a");
}

TEST_F(LanLinkTest, ReadLineTimesOutWithWhatItHadAndTheTimeOutRestartsPerByte) {
  LanSetTimeout(300);
  peer_.Send("par");
  char buffer[64];
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(link_.ReadLine(buffer, sizeof buffer), -1);
  EXPECT_STREQ(buffer, "par");
  EXPECT_GE(MsSince(start), 290);
  // Bytes every 120 ms keep a 300 ms time-out from running out.
  std::thread trickle([this] {
    for (char c : std::string("ok\n")) {
      std::this_thread::sleep_for(std::chrono::milliseconds(120));
      peer_.Send(std::string(1, c));
    }
  });
  EXPECT_EQ(link_.ReadLine(buffer, sizeof buffer), 2);
  EXPECT_STREQ(buffer, "ok");
  trickle.join();
}

TEST_F(LanLinkTest, APeerThatNeverEndsItsLineHoldsReadLineForTwiceTheTimeOutAtMost) {
  LanSetTimeout(200);
  std::atomic<bool> stop{false};
  std::thread chatter([&] {
    const auto start = std::chrono::steady_clock::now();
    while (!stop && MsSince(start) < 5000 && peer_.Send("xxxxxxxx")) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  char buffer[64];
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(link_.ReadLine(buffer, sizeof buffer), -1);
  const auto took = MsSince(start);
  stop = true;
  chatter.join();
  EXPECT_GE(took, 390);
  EXPECT_LT(took, 2000);
  EXPECT_EQ(std::string(buffer), std::string(63, 'x'));
}

TEST_F(LanLinkTest, ABurstLargerThanTheRingArrivesWholeAndInOrder) {
  std::string burst;
  for (int i = 0; burst.size() < 200000; ++i) burst += "line " + std::to_string(i) + "\r\n";
  std::thread writer([&] { peer_.Send(burst); });
  // Let the peer fill every buffer on the way before anything is taken.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::string got;
  while (got.size() < burst.size()) {
    int c = link_.ReadByte();
    ASSERT_NE(c, -1);
    if (c == -2) {
      link_.WaitReadable(1000);
      continue;
    }
    got.push_back(static_cast<char>(c));
  }
  writer.join();
  EXPECT_TRUE(got == burst);
}

TEST_F(LanLinkTest, APeerThatClosedEndsReadingOnceItsBytesAreTaken) {
  peer_.Send("last\r\nAB");
  peer_.Close();
  char buffer[64];
  EXPECT_EQ(link_.ReadLine(buffer, sizeof buffer), 4);
  EXPECT_EQ(link_.ReadByte(), 'A');
  EXPECT_EQ(link_.ReadByte(), 'B');
  EXPECT_EQ(link_.ReadByte(), -1);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(link_.ReadLine(buffer, sizeof buffer), -1);
  EXPECT_LT(MsSince(start), 2000);  // failed at once, not after the 5 s time-out
}

TEST_F(LanLinkTest, APeerThatResetIsABrokenLink) {
  peer_.Reset();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(link_.ReadByte(), -1);
  const auto start = std::chrono::steady_clock::now();
  link_.Drain(1000);
  EXPECT_LT(MsSince(start), 500);  // ends at once on the broken link
}

TEST_F(LanLinkTest, ALargeSendGoesOutWhole) {
  const std::string big(4 << 20, 'q');
  std::string got;
  std::thread reader([&] { got = peer_.Receive(big.size() + 1, 5000); });
  EXPECT_EQ(link_.Send(big), 0);
  reader.join();
  ASSERT_EQ(got.size(), big.size() + 1);
  EXPECT_EQ(got.back(), '\0');
}

TEST(LanConnect, RefusedOrUnusableAddressFails) {
  std::uint16_t freePort;
  {
    TcpPeer closed("127.0.0.1");
    freePort = closed.port();
  }
  std::string error;
  EXPECT_EQ(LanConnect("127.0.0.1", freePort, &error), nullptr);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(LanConnect("999.1.1.1", kInstrumentPort, &error), nullptr);
  EXPECT_EQ(LanConnect("", kInstrumentPort, &error), nullptr);
}

// Two links and a discovery socket at once: each holds the sockets layer
// until it ends, and closing a link that never took it releases nothing.
TEST(SocketsLayer, EachUserHoldsItUntilItsOwnEnd) {
  const int before = SocketsUsers();
  TcpPeer peerA, peerB;
  InstrumentLink a, b, serial;
  for (auto [link, peer] : {std::pair{&a, &peerA}, std::pair{&b, &peerB}}) {
    link->settings.interfaceKind = InterfaceKind::Lan;
    const std::uint16_t port = peer->port();
    link->SetTransportFactory([port](const ConnectionSettings&, std::string* error) {
      return LanConnect("127.0.0.1", port, error);
    });
    ASSERT_EQ(link->Open(), 0) << link->LastError();
    ASSERT_TRUE(peer->Accept());
  }
  EXPECT_EQ(SocketsUsers(), before + 2);

  // A transport without a write count that is not a LAN one.
  auto memory = std::make_shared<testing::MemoryPeer>();
  memory->countWrites = false;
  testing::UseMemoryPeer(serial, memory);
  ASSERT_EQ(serial.Open(), 0);
  serial.Close();
  EXPECT_EQ(SocketsUsers(), before + 2);

  {
    auto enquiry = OpenEnquirySocket(0);  // set up, nothing sent
    ASSERT_NE(enquiry, nullptr);
    EXPECT_EQ(SocketsUsers(), before + 3);
  }
  a.Close();
  a.Close();
  EXPECT_EQ(SocketsUsers(), before + 1);
  peerB.Send("still here\r\n");
  char buffer[32];
  EXPECT_EQ(b.ReadLine(buffer, sizeof buffer), 10);
  b.Close();
  EXPECT_EQ(SocketsUsers(), before);
}

}  // namespace
}  // namespace parlex2
