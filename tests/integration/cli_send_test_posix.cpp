// parlex2 send, run as a program against the simulator.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/command_posix.h"
#include "support/simulator.h"
#include "support/temp_folder.h"

namespace parlex2 {
namespace {

using testing::ReadFileBytes;
using testing::RunCli;

// The trace's exchange entries in `text`, without their time stamps.
std::vector<std::string> Exchanges(const std::string& text) {
  std::vector<std::string> entries;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.size() > 15 && line[0] == '[' && line[15] == '(') entries.push_back(line.substr(15));
  }
  return entries;
}

// The wake byte goes out once with its zero byte, each command with a zero
// byte after its line end.
TEST(CliSend, SendsTypedCommandsAndPrintsTheRepliesAsThePaneShowsThem) {
  testing::Simulator sim(PARLEX2_SIM_PATH);
  std::string error;
  ASSERT_TRUE(sim.Start({"--tcp", "127.0.0.23:10001"}, &error)) << error;
  const auto send = RunCli("--lan 127.0.0.23 send --quiet 300 volt? bvolt? ^c");
  ASSERT_TRUE(sim.Stop());
  EXPECT_EQ(send.status, 0);
  EXPECT_EQ(send.out, "1.234\n1.23400E0\nERROR: unknown command\n");
  EXPECT_EQ(sim.Received(), std::string("\x14\0volt?\n\0bvolt?\n\0\x03\n\0", 20));
}

// --timestamps: each line begins with the computer's time; parlex2 run takes
// the same option for its received lines and echoes.
TEST(CliSend, TimestampsBeginEachLineInSendAndRun) {
  testing::Simulator sim(PARLEX2_SIM_PATH);
  std::string error;
  ASSERT_TRUE(sim.Start({"--tcp", "127.0.0.26:10001"}, &error)) << error;
  const auto send = RunCli("--lan 127.0.0.26 send --quiet 300 --timestamps volt? volt?");
  EXPECT_EQ(send.status, 0);
  EXPECT_TRUE(std::regex_match(send.out, std::regex(R"((\d\d:\d\d:\d\d\.\d{3} \d\.\d+\n){2})")))
      << send.out;
  testing::TempFolder folder("parlex2-cli-stamps");
  const std::string script = folder.Write("stamps.txt", "\"volt?\n#echo,done\n");
  const auto run = RunCli("--lan 127.0.0.26 run --timestamps " + script);
  ASSERT_TRUE(sim.Stop());
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(std::regex_match(run.out, std::regex(R"(\d\d:\d\d:\d\d\.\d{3} > volt\?\n)"
                                                   R"(\d\d:\d\d:\d\d\.\d{3} 1\.234\ndone\n)")))
      << run.out;
}

// The comms log holds what the instrument sent back as well as the
// commands; -v prints the same trace on standard error, with --log or
// without, for send, run and set-clock alike.
TEST(CliSend, TraceHoldsTheRepliesAndVerboseShowsItBesideTheLog) {
  testing::Simulator sim(PARLEX2_SIM_PATH);
  ASSERT_TRUE(sim.Start({"--tcp", "127.0.0.25:10001"}));
  testing::TempFolder folder("parlex2-send-log");
  const std::string log = folder.File("comms.log"), err = folder.File("err.txt");
  const auto send = testing::RunCommand(std::string(PARLEX2_PATH) + " --lan 127.0.0.25 -v --log " +
                                        log + " send --quiet 300 volt? curr? 2>" + err);
  EXPECT_EQ(send.status, 0);
  EXPECT_EQ(send.out, "1.234\n-0.0125\n");
  const auto logged = Exchanges(ReadFileBytes(log));
  const std::vector<std::string> expected = {
      "(00001) [serial:unknown] >>\t\\024", "(00002) [serial:unknown] >>\tvolt?",
      "(00003) [serial:unknown] <<\t1.234", "(00004) [serial:unknown] >>\tcurr?",
      "(00005) [serial:unknown] <<\t-0.0125"};
  EXPECT_EQ(logged, expected);
  EXPECT_EQ(Exchanges(ReadFileBytes(err)), expected);

  for (const char* command : {"run " PARLEX2_EXAMPLES_DIR "/identify.txt", "set-clock"}) {
    const auto run = testing::RunCommand(std::string(PARLEX2_PATH) + " --lan 127.0.0.25 -v " +
                                         command + " 2>" + err + " >/dev/null");
    EXPECT_EQ(run.status, 0) << command;
    const std::string trace = ReadFileBytes(err);
    EXPECT_NE(trace.find("] >>\t"), std::string::npos) << command << trace;
    EXPECT_NE(trace.find("] <<\t"), std::string::npos) << command << trace;
  }
}

TEST(CliSend, ExitStatusTellsUsageFromConnectionFailures) {
  EXPECT_EQ(RunCli("send").status, 2);
  EXPECT_EQ(RunCli("--lan 127.0.0.23 --baud 9600 send x").status, 2);  // --baud needs --serial
  EXPECT_EQ(RunCli("--serial /dev/null --baud 12345 send x").status, 2);
  // A malformed option is a usage error before anything is tried.
  EXPECT_EQ(RunCli("--lan nonsense send x").status, 2);
  EXPECT_EQ(RunCli("--lan 127.0.0.300 send x").status, 2);
  // A word that is no command is named.
  const auto bogus =
      testing::RunCommand(std::string(PARLEX2_PATH) + " --lan 127.0.0.24 bogus 2>&1");
  EXPECT_EQ(bogus.status, 2);
  EXPECT_NE(bogus.out.find("no such command: bogus"), std::string::npos) << bogus.out;
  // (Nothing listening on a LAN address is the fault matrix's Refused_send_tcp.)
  EXPECT_EQ(RunCli("--serial /dev/does-not-exist send x").status, 1);
}

}  // namespace
}  // namespace parlex2
