// parlex2 run, as a program against a loopback peer on the instrument's port:
// the results pane's text on standard output, #print's file, exit statuses.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "support/command_posix.h"
#include "support/simulator.h"
#include "support/tcp_peer.h"
#include "support/temp_folder.h"

namespace parlex2 {
namespace {

using testing::RunCli;

class CliRunTest : public ::testing::Test {
 protected:
  std::string Script(const std::string& name, const std::string& text) {
    const auto path = dir_ / name;
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
  }
  static std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }
  testing::TempFolder folder_{"parlex2-cli-run"};
  const std::filesystem::path& dir_ = folder_.Path();
};

TEST_F(CliRunTest, RunsAScriptToItsEndWithTheProgramsOutput) {
  testing::TcpPeer peer("127.0.0.61", 10001);
  ASSERT_TRUE(peer.listening());
  const auto printed = dir_ / "out.txt";
  const std::string script = Script("measure.txt",
                                    "Measure and check the voltage\r\n"
                                    "#fast\r\n"
                                    "\"volt?\r\n#reply,3\r\n"
                                    "#echo,measured\r\n"
                                    "=20\r\n=10\r\n=15\r\n=test,out\r\n"
                                    "#wait,Check the probe\r\n"
                                    "\"stop\r\n"
                                    "#print," +
                                        printed.string() + "\r\n");
  std::string received;
  std::thread instrument([&] {
    if (!peer.Accept()) return;
    received = peer.Receive(2);  // the wake byte and its zero byte
    received += peer.Receive(7);
    peer.Send("1.234\r\n");
    received += peer.Receive(6);
    peer.Receive(1, 3000);  // until the program hangs up
  });
  const auto run = RunCli("--lan 127.0.0.61 run " + script);
  instrument.join();
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(received, std::string("\x14\0volt?\n\0stop\n\0", 15));
  EXPECT_EQ(run.out, "> volt?\n1.234\nmeasured\nCheck the probe\n> stop\n");
  EXPECT_EQ(ReadFile(printed), "> volt?\r\n1.234\r\nmeasured\r\nCheck the probe\r\n> stop\r\n");
}

// Against the simulated instrument: queries with and without reply lines,
// binary values converted and then shown raw, an unknown command, and a
// failed test counted at the end.
TEST_F(CliRunTest, RunsAgainstTheSimulator) {
  testing::Simulator sim(PARLEX2_SIM_PATH);
  std::string error;
  ASSERT_TRUE(sim.Start({"--tcp", "127.0.0.65:10001"}, &error)) << error;
  const std::string script = Script("sim.txt",
                                    "\"*IDN?\n"
                                    "\"volt?\n#reply,2\n"
                                    "\"bvolt?\n"
                                    "#bincon,off\n"
                                    "\"bvolt?\n"
                                    "\"nonsense\n"
                                    "=1\n=2\n=test,hi\n"
                                    "#echo,done\n");
  const auto run = RunCli("--lan 127.0.0.65 run " + script);
  ASSERT_TRUE(sim.Stop());
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(run.out,
            "> *IDN?\nVeltmark,VXM66,10472,2.15\n"
            "> volt?\n1.234\n"
            "> bvolt?\n1.23400E0\n"
            "> bvolt?\n\x81'>;\n"
            "> nonsense\nERROR: unknown command\n"
            "done\n");
  const std::string received = sim.Received();
  for (const char* command : {"*IDN?\n", "volt?\n", "bvolt?\n", "nonsense\n"}) {
    EXPECT_NE(received.find(command), std::string::npos) << command;
  }
}

TEST_F(CliRunTest, ExitStatusTellsFailedTestsSendsAndAbandonedRuns) {
  struct Case {
    const char* what;
    const char* script;
    const char* input;
    bool hangUp;  // the instrument closes the connection at once
    int status;
    const char* out;
  };
  const Case cases[] = {
      {"stop on fail", "=stop,onfail\n=10\n=11\n=test,hi\n\"never\n", "", false, 3, ""},
      {"failed test counted at the end", "#fast\n=10\n=11\n=test,hi\n#echo,end\n", "", false, 3,
       "end\n"},
      {"abandoned at a wait", "#wait\n\"never\n", "q\\n", false, 5,
       "! Press Close to abort script or Press Run to continue\n"},
      {"continued at a wait", "#fast\n#wait,w\n#echo,after\n", "\\n", false, 0, "w\nafter\n"},
      // The connection is lost: the next send fails, but that is no failed
      // send on a connection that holds.
      {"instrument hung up: the next send fails", "#pause,1\n\"late\n", "", true, 1,
       "> lateERROR SENDING THIS COMMAND\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::TcpPeer peer("127.0.0.62", 10001);
    ASSERT_TRUE(peer.listening());
    const bool hangUp = c.hangUp;
    std::thread instrument([&] {
      if (!peer.Accept()) return;
      peer.Receive(2);
      if (hangUp) {
        peer.Close();
        return;
      }
      peer.Receive(1, 3000);
    });
    const std::string interactive = c.input[0] ? "--interactive " : "";
    const auto run =
        RunCli("--lan 127.0.0.62 run " + interactive + Script("s.txt", c.script), c.input);
    instrument.join();
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, c.out);
  }
}

// The instrument closes the connection after two of three queries: the run
// ends as a lost connection (status 1), not as a failed send.
TEST_F(CliRunTest, ConnectionDroppedAfterTwoOfThreeQueriesExitsOne) {
  testing::Simulator sim(PARLEX2_SIM_PATH);
  std::string error;
  ASSERT_TRUE(sim.Start({"--tcp", "127.0.0.66:10001", "--drop-after", "2"}, &error)) << error;
  const auto run =
      RunCli("--lan 127.0.0.66 run " + Script("three.txt", "\"volt?\n\"curr?\n\"temp?\n"));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out.substr(0, 30), "> volt?\n1.234\n> curr?\n-0.0125\n");
}

// A COM port that cannot take the bytes in time fails the send while the
// connection holds: that is status 4. Nobody reads this pseudo-terminal's
// other end, so its buffers fill.
TEST_F(CliRunTest, SendThatFailsOnALinkThatHoldsExitsFour) {
  int master = -1, slave = -1;
  char name[128];
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  std::string script = "#fast\n";
  for (int i = 0; i < 2000; ++i) script += "\"" + std::string(250, 'x') + "\n";
  const auto run = RunCli(std::string("--usb ") + name + " run " + Script("long.txt", script));
  close(slave);
  close(master);
  EXPECT_EQ(run.status, 4);
  EXPECT_NE(run.out.find("ERROR SENDING THIS COMMAND"), std::string::npos);
}

TEST_F(CliRunTest, ScriptFileAndConnectionProblems) {
  const std::string notes = Script("notes.txt", "only\nnotes\n");
  EXPECT_EQ(RunCli("--lan 127.0.0.63 run " + notes).status, 1);
  EXPECT_EQ(RunCli("--lan 127.0.0.63 run " + (dir_ / "missing.txt").string()).status, 1);
  // Nothing listens on this address's instrument port.
  EXPECT_EQ(RunCli("--lan 127.0.0.63 run " + Script("ok.txt", "\"x\n")).status, 1);
  EXPECT_EQ(RunCli("run " + notes).status, 2);
  EXPECT_EQ(RunCli("--lan 127.0.0.63 run").status, 2);
}

}  // namespace
}  // namespace parlex2
