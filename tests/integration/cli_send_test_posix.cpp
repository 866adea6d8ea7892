// parlex2 send, run as a program against a loopback peer on the instrument's
// port.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <thread>

#include "support/command_posix.h"
#include "support/tcp_peer.h"

namespace parlex2 {
namespace {

using testing::RunCli;

TEST(CliSend, SendsTypedCommandsAndPrintsTheRepliesAsThePaneShowsThem) {
  testing::TcpPeer peer("127.0.0.23", 10001);
  ASSERT_TRUE(peer.listening());
  std::string received;
  std::thread instrument([&] {
    if (!peer.Accept()) return;
    received = peer.Receive(2);  // the wake byte and its zero byte
    received += peer.Receive(7);
    peer.Send("1.234\r\n\r\n" "\x8A\x3A\x80\x80\r\n");
    received += peer.Receive(3);
    peer.Send("stopped\n");
    peer.Receive(1, 2000);  // until the program hangs up
  });
  auto run = RunCli("--lan 127.0.0.23 send --quiet 300 volt? ^c");
  instrument.join();
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(received, std::string("\x14\0volt?\n\0\x03\n\0", 12));
  EXPECT_EQ(run.out, "1.234\n9.28000E2\nstopped\n");
}

TEST(CliSend, ExitStatusTellsUsageFromConnectionFailures) {
  EXPECT_EQ(RunCli("send").status, 2);
  EXPECT_EQ(RunCli("--lan 127.0.0.23 --baud 9600 send x").status, 2);  // --baud needs --serial
  EXPECT_EQ(RunCli("--serial /dev/null --baud 12345 send x").status, 2);
  // Nothing listens on this address's instrument port.
  EXPECT_EQ(RunCli("--lan 127.0.0.24 send x").status, 1);
  EXPECT_EQ(RunCli("--serial /dev/does-not-exist send x").status, 1);
}

}  // namespace
}  // namespace parlex2
