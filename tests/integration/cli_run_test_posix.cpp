// parlex2 run, as a program against a loopback peer on the instrument's port:
// the results pane's text on standard output, #print's file, exit statuses.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>

#include "support/command_posix.h"
#include "support/report_schemas_posix.h"
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

// Both reports are written however the run ends, and each says how.
TEST_F(CliRunTest, ReportsAreWrittenHoweverTheRunEnds) {
  struct Case {
    const char* what;
    std::vector<std::string> simOptions;
    const char* script;
    const char* input;
    int status;
    const char* reportStatus;
    int tests;
  };
  const Case cases[] = {
      {"passed", {}, "#fast\n\"volt?\n=2\n=1\n=reply\n=test,out\n", "", 0, "passed", 1},
      {"stopped at a failure", {}, "=stop,onfail\n=1\n=2\n=test,hi\n\"never\n", "", 3, "failed", 1},
      {"abandoned at a #wait", {}, "=2\n=1\n=test,hi\n#wait\n=test,hi\n", "q\\n", 5, "stopped", 1},
      {"connection lost",
       {"--drop-after", "2"},
       "#fast\n\"volt?\n\"curr?\n=1\n=2\n=test,hi\n",
       "",
       1,
       "connection_lost",
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::Simulator sim(PARLEX2_SIM_PATH);
    std::vector<std::string> options = {"--tcp", "127.0.0.69:10001"};
    options.insert(options.end(), c.simOptions.begin(), c.simOptions.end());
    std::string error;
    ASSERT_TRUE(sim.Start(options, &error)) << error;
    const std::string xml = (dir_ / "r.xml").string();
    const std::string json = (dir_ / "r.json").string();
    std::filesystem::remove(xml);
    std::filesystem::remove(json);
    const std::string interactive = c.input[0] ? "--interactive " : "";
    const auto run = RunCli("--lan 127.0.0.69 run " + interactive + Script("s.txt", c.script) +
                                " --junit " + xml + " --json " + json,
                            c.input);
    ASSERT_TRUE(sim.Stop());
    EXPECT_EQ(run.status, c.status) << run.out;
    const auto junit = testing::CheckJUnitReport(xml);
    EXPECT_EQ(junit.status, 0) << junit.out;
    const auto checked = testing::CheckJsonReport(json);
    EXPECT_EQ(checked.status, 0) << checked.out;
    const auto report = nlohmann::json::parse(ReadFile(json));
    EXPECT_EQ(report["status"], c.reportStatus);
    EXPECT_EQ(report["tests"].size(), static_cast<std::size_t>(c.tests));
    EXPECT_FALSE(report["finished"].is_null());
    EXPECT_NE(
        ReadFile(xml).find("<property name=\"status\" value=\"" + std::string(c.reportStatus)),
        std::string::npos);
  }
}

// Replies that hold no usable number fail their reading and their test;
// comments of any bytes still give reports that validate.
TEST_F(CliRunTest, BadRepliesNeverPassAndAnyCommentGivesValidReports) {
  const std::string longLine(20000, '7');
  testing::Simulator sim(PARLEX2_SIM_PATH);
  std::string error;
  ASSERT_TRUE(sim.Start({"--tcp", "127.0.0.67:10001", "--reading", "a?=1e999", "--reading",
                         "b?=nan", "--reading", "c?=-inf", "--reading", "d?=" + longLine,
                         "--reading", "e?=\x01\x02\x7F\xFE\xFF~!", "--reading", "f?=OVERRANGE"},
                        &error))
      << error;
  const std::string nasty = "Check <a> & ]]> \"q\" 'x' \x01\x1F\x7F tab\t caf\xC3\xA9 \xFF\xFE end";
  std::string script = "#fast\n#bincon,off\n";
  for (const char* query : {"a?", "b?", "c?", "d?", "e?", "f?"}) {
    script += nasty + " " + query + "\n\"" + query + "\n=1e300\n=reply\n=test,hi\n";
  }
  const std::string xml = (dir_ / "bad.xml").string();
  const std::string json = (dir_ / "bad.json").string();
  const auto run = RunCli("--lan 127.0.0.67 run " + Script("bad.txt", script) + " --junit " + xml +
                          " --json " + json);
  ASSERT_TRUE(sim.Stop());
  EXPECT_EQ(run.status, 3);
  const auto junit = testing::CheckJUnitReport(xml);
  EXPECT_EQ(junit.status, 0) << junit.out;
  const auto checked = testing::CheckJsonReport(json);
  EXPECT_EQ(checked.status, 0) << checked.out;
  const auto report = nlohmann::json::parse(ReadFile(json));
  ASSERT_EQ(report["tests"].size(), 12u);  // each reading and each test
  for (const auto& test : report["tests"]) {
    EXPECT_EQ(test["passed"], false) << test.dump();
    EXPECT_TRUE(test["value"].is_null()) << test.dump();
  }
  EXPECT_EQ(report["tests"][0]["name"].get<std::string>().rfind("Check <a> & ]]> \"q\"", 0), 0u);
  EXPECT_EQ(report["tests"][0]["reason"], "no number in the reply \"1e999\"");
}

// A report that cannot be written: said, with the run's own result, and a
// status of its own; the other report is written all the same.
TEST_F(CliRunTest, UnwritableReportGivesItsOwnStatusAndTheRunsResult) {
  testing::Simulator sim(PARLEX2_SIM_PATH);
  std::string error;
  ASSERT_TRUE(sim.Start({"--tcp", "127.0.0.68:10001"}, &error)) << error;
  std::ofstream(dir_ / "plain") << "a file, not a folder";
  const std::string xml = (dir_ / "ok.xml").string();
  const std::string json = (dir_ / "plain" / "r.json").string();
  const auto run = testing::RunCommand(
      std::string(PARLEX2_PATH) + " --lan 127.0.0.68 run " +
      Script("s.txt", "Supply\n\"volt?\n=3\n=2\n=reply\n=test,out\n") + " --junit " + xml +
      " --json " + json + " </dev/null 2>" + (dir_ / "err.txt").string());
  ASSERT_TRUE(sim.Stop());
  EXPECT_EQ(run.status, 6);
  EXPECT_EQ(run.out, "> volt?\n1.234\n");
  const std::string err = ReadFile(dir_ / "err.txt");
  EXPECT_EQ(err.rfind("parlex2: failed: line 6 (Supply): out: 1.234 is outside 2 .. 3\n"
                      "parlex2: cannot write the JSON report " +
                          json + ": ",
                      0),
            0u)
      << err;
  EXPECT_NE(err.find("\nparlex2: the run itself ended with status 3: a test failed\n"),
            std::string::npos)
      << err;
  EXPECT_EQ(testing::CheckJUnitReport(xml).status, 0);
}

TEST_F(CliRunTest, ScriptFileAndConnectionProblems) {
  const std::string notes = Script("notes.txt", "only\nnotes\n");
  EXPECT_EQ(RunCli("--lan 127.0.0.63 run " + notes).status, 1);
  // No such file is a usage error, as upgrade's is.
  EXPECT_EQ(RunCli("--lan 127.0.0.63 run " + (dir_ / "missing.txt").string()).status, 2);
  EXPECT_EQ(RunCli("--lan 127.0.0.63 run " + dir_.string()).status, 2);
  EXPECT_EQ(RunCli("run " + notes).status, 2);
  EXPECT_EQ(RunCli("--lan 127.0.0.63 run").status, 2);
}

}  // namespace
}  // namespace parlex2
