// COM ports under Wine: the test script joins COM7 and COM8 as a null-modem
// pair (two pseudo-terminals), so the Win32 serial transport runs against a
// real port driver. Skipped where no pair is provided.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "link/transport.h"

namespace parlex2 {
namespace {

struct ComPair {
  std::string port;
  std::string peer;
};

bool GetComPair(ComPair& pair) {
  const char* port = std::getenv("PARLEX2_TEST_COM_PORT");
  const char* peer = std::getenv("PARLEX2_TEST_COM_PEER_PORT");
  if (!port || !peer || !*port || !*peer) return false;
  pair = {port, peer};
  return true;
}

TEST(ComPairTest, LinesAndBytesCrossTheNullModemBothWays) {
  ComPair pair;
  if (!GetComPair(pair)) GTEST_SKIP() << "no COM port pair (set by scripts/wine-tests.sh)";
  std::string error;
  auto port = OpenSerialTransport(pair.port, 19200, &error);
  ASSERT_NE(port, nullptr) << pair.port << ": " << error;
  auto peer = OpenSerialTransport(pair.peer, 19200, &error);
  ASSERT_NE(peer, nullptr) << pair.peer << ": " << error;
  port->SetReadTimeout(2000);
  peer->SetReadTimeout(2000);

  EXPECT_EQ(port->Write("*IDN?\n"), 6);
  char line[128];
  EXPECT_EQ(peer->ReadLine(line, sizeof line), 6);
  EXPECT_STREQ(line, "*IDN?\n");

  EXPECT_EQ(peer->Write(std::string("\x14\x80z", 3)), 3);
  peer->WaitReadable(0);
  port->WaitReadable(2000);
  EXPECT_EQ(port->ReadByte(), 0x14);
  port->WaitReadable(2000);
  EXPECT_EQ(port->ReadByte(), 0x80);
  port->WaitReadable(2000);
  EXPECT_EQ(port->ReadByte(), 'z');
  EXPECT_EQ(port->ReadByte(), -2);  // nothing more waits

  // Nothing sent: a line read ends empty after the time-out.
  peer->SetReadTimeout(50);
  EXPECT_EQ(peer->ReadLine(line, sizeof line), 0);
}

}  // namespace
}  // namespace parlex2
