// The link over a real Windows COM port. The test run provides a null-modem
// pair (PARLEX2_TEST_COM_PORT and PARLEX2_TEST_COM_PEER_PORT); the test holds
// the peer end in place of the instrument.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "link/instrument_link.h"

namespace parlex2 {
namespace {

class ComPortLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* port = std::getenv("PARLEX2_TEST_COM_PORT");
    const char* peerPort = std::getenv("PARLEX2_TEST_COM_PEER_PORT");
    if (!port || !peerPort) GTEST_SKIP() << "no COM port pair in this environment";
    std::string error;
    peer_ = OpenSerialTransport(peerPort, 19200, &error);
    ASSERT_NE(peer_, nullptr) << error;
    peer_->SetReadTimeout(1000);
    link_.settings.interfaceKind = InterfaceKind::Usb;
    link_.settings.comPort = port;
    link_.settings.baudRate = kUsbBaudRate;
    ASSERT_EQ(link_.Open(), 0) << link_.LastError();
    EXPECT_EQ(ReceiveAtPeer(1), "\x14");
  }
  void TearDown() override { link_.Close(); }

  std::string ReceiveAtPeer(std::size_t count) {
    std::string got;
    while (got.size() < count) {
      peer_->WaitReadable(1000);
      int c = peer_->ReadByte();
      if (c < 0) break;
      got.push_back(static_cast<char>(c));
    }
    return got;
  }

  std::unique_ptr<Transport> peer_;
  InstrumentLink link_;
};

TEST_F(ComPortLinkTest, SendCountsAndReadLineCutsAtTheCarriageReturn) {
  EXPECT_EQ(link_.Send("*IDN?\n"), 6);
  EXPECT_EQ(ReceiveAtPeer(6), "*IDN?\n");
  peer_->Write("OK\r\n" "\r\n" "OK\n" + std::string(300, 'y') + "\r\n");
  char buffer[256];
  EXPECT_EQ(link_.ReadLine(buffer, sizeof buffer), 2);
  EXPECT_STREQ(buffer, "OK");
  EXPECT_EQ(link_.ReadLine(buffer, sizeof buffer), 0);
  EXPECT_EQ(link_.ReadLine(buffer, sizeof buffer), 3);
  EXPECT_STREQ(buffer, "OK\n");
  EXPECT_EQ(link_.ReadLine(buffer, sizeof buffer), 255);
  link_.WaitReadable(1000);
  EXPECT_EQ(link_.ReadByte(), 'y');
}

TEST_F(ComPortLinkTest, SilentInstrumentTimesOutAndNothingWaitsAfterwards) {
  link_.SetReadTimeout(200);
  char buffer[64];
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(link_.ReadLine(buffer, sizeof buffer), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
  EXPECT_EQ(link_.ReadByte(), -2);
}

TEST(ComPortOpen, AbsentPortFails) {
  std::string error;
  EXPECT_EQ(OpenSerialTransport("COM199", 9600, &error), nullptr);
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace parlex2
