// The link over a COM port, with a pseudo-terminal standing in for the port
// and the test holding the instrument's end.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "link/instrument_link.h"

namespace parlex2 {
namespace {

class SerialLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[128];
    ASSERT_EQ(openpty(&master_, &slave_, name, nullptr, nullptr), 0);
    termios tio;
    tcgetattr(master_, &tio);
    cfmakeraw(&tio);
    tcsetattr(master_, TCSANOW, &tio);
    link_.settings.interfaceKind = InterfaceKind::Serial;
    link_.settings.comPort = name;
    link_.settings.baudRate = 9600;
    ASSERT_EQ(link_.Open(), 0) << link_.LastError();
    // The slave end stays open here too, so closing the link is no hang-up.
    EXPECT_EQ(Receive(1), "\x14");
  }
  void TearDown() override {
    link_.Close();
    if (master_ >= 0) close(master_);
    close(slave_);
  }
  void Send(const std::string& bytes) {
    ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  std::string Receive(std::size_t count) {
    std::string got;
    char buffer[256];
    while (got.size() < count) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 1000) <= 0) break;
      ssize_t n = read(master_, buffer, std::min(sizeof buffer, count - got.size()));
      if (n <= 0) break;
      got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
  }
  int master_ = -1;
  int slave_ = -1;
  InstrumentLink link_;
};

TEST_F(SerialLinkTest, SendWritesTheTextAsItIsAndCountsIt) {
  EXPECT_EQ(link_.Send("*IDN?\n"), 6);
  EXPECT_EQ(Receive(6), "*IDN?\n");
}

TEST_F(SerialLinkTest, ReadLineCutsAtTheCarriageReturnAndKeepsABareLineFeed) {
  Send(
      "OK\r\n"
      "\r\n"
      "OK\n" +
      std::string(300, 'y') + "\r\n");
  char buffer[256];
  EXPECT_EQ(link_.ReadLine(buffer, sizeof buffer), 2);
  EXPECT_STREQ(buffer, "OK");
  EXPECT_EQ(link_.ReadLine(buffer, sizeof buffer), 0);
  EXPECT_EQ(link_.ReadLine(buffer, sizeof buffer), 3);
  EXPECT_STREQ(buffer, "OK\n");
  EXPECT_EQ(link_.ReadLine(buffer, sizeof buffer), 255);
  // The rest of the long line stays for the next reader.
  EXPECT_EQ(link_.ReadByte(), 'y');
}

TEST_F(SerialLinkTest, SilentInstrumentGivesAnEmptyLineAfterTheTimeOut) {
  link_.SetReadTimeout(200);
  char buffer[64];
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(link_.ReadLine(buffer, sizeof buffer), 0);
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(190));
  EXPECT_EQ(link_.ReadByte(), -2);  // and nothing waits now
}

TEST_F(SerialLinkTest, ReadByteTakesWaitingBytesAndReportsAHangUp) {
  Send("ab");
  link_.WaitReadable(1000);
  EXPECT_EQ(link_.ReadByte(), 'a');
  EXPECT_EQ(link_.ReadByte(), 'b');
  EXPECT_EQ(link_.ReadByte(), -2);
  close(master_);
  master_ = -1;
  EXPECT_EQ(link_.ReadByte(), -1);
  EXPECT_EQ(link_.ReadByte(), -1);
}

TEST_F(SerialLinkTest, APortThisProgramHoldsIsBusyForOthers) {
  std::string error;
  EXPECT_EQ(OpenSerialTransport(link_.settings.comPort, 9600, &error), nullptr);
  EXPECT_NE(error.find("busy"), std::string::npos) << error;
}

TEST(SerialOpen, AbsentPortAndUnsupportedSpeedFail) {
  std::string error;
  EXPECT_EQ(OpenSerialTransport("/dev/does-not-exist", 9600, &error), nullptr);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(OpenSerialTransport("/dev/null", 9600, &error), nullptr);  // not a serial port
  EXPECT_EQ(OpenSerialTransport("/dev/ptmx", 12345, &error), nullptr);
}

TEST(SerialOpen, UsbRunsAt19200WhateverTheSettingsHold) {
  int master = -1, slave = -1;
  char name[128];
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  InstrumentLink link;
  link.settings.interfaceKind = InterfaceKind::Usb;
  link.settings.comPort = name;
  link.settings.baudRate = 0;  // as a settings file written by hand may leave it
  EXPECT_EQ(link.Open(), 0) << link.LastError();
  termios tio;
  ASSERT_EQ(tcgetattr(slave, &tio), 0);
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B19200));
  link.Close();
  close(master);
  close(slave);
}

}  // namespace
}  // namespace parlex2
