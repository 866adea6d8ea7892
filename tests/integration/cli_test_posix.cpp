// parlex2 send and run, as programs against the simulator: the replies and the
// results pane's text on standard output, the comms log and trace, the
// reports and the exit statuses.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "support/command_posix.h"
#include "support/comms_log_file.h"
#include "support/simulator.h"
#include "support/temp_folder.h"

namespace parlex2 {
namespace {

using testing::ReadFileBytes;

class CliRunTest : public ::testing::Test {
 protected:
  // parlex2 --lan ADDRESS ARGUMENTS against a simulator on ADDRESS started
  // with `simOptions`, `input` on standard input (none when empty) and
  // standard error in err.txt; `received` takes what the simulator received.
  testing::CommandRun Run(const std::string& address, std::vector<std::string> simOptions,
                          const std::string& arguments, const std::string& input = "",
                          std::string* received = nullptr) {
    testing::Simulator sim(PARLEX2_SIM_PATH);
    simOptions.insert(simOptions.end(), {"--tcp", address + ":10001"});
    std::string error;
    EXPECT_TRUE(sim.Start(simOptions, &error)) << error;
    const std::string command = std::string(PARLEX2_PATH) + " --lan " + address + " " + arguments +
                                " 2>'" + folder_.File("err.txt") + "'";
    const auto run = testing::RunCommand(input.empty() ? command + " </dev/null"
                                                       : "printf '" + input + "' | " + command);
    EXPECT_TRUE(sim.Stop());
    if (received) *received = sim.Received();
    return run;
  }
  std::string Err() const { return ReadFileBytes(dir_ / "err.txt"); }
  std::string Script(const std::string& text) { return folder_.Write("s.txt", text); }
  // Both reports validate against their schemas; the JSON one, parsed.
  nlohmann::json CheckedReports(const std::string& xml, const std::string& json) {
    // xmllint against Ant's strict JUnit schema and Jenkins'; Debian's
    // python3-jsonschema against the published schema.
    const std::string source = PARLEX2_SOURCE_DIR, schemas = source + "/tests/data/junit/";
    for (const char* xsd : {"JUnit.xsd", "jenkins-junit-10.xsd"}) {
      const auto junit = testing::RunCommand("xmllint --noout --schema '" + schemas + xsd + "' '" +
                                             xml + "' 2>&1");
      EXPECT_EQ(junit.status, 0) << junit.out;
    }
    const auto checked =
        testing::RunCommand("/usr/bin/python3 '" + source + "/tests/tools/validate_json.py' '" +
                            source + "/docs/test-report.schema.json' '" + json + "' 2>&1");
    EXPECT_EQ(checked.status, 0) << checked.out;
    return nlohmann::json::parse(ReadFileBytes(json), nullptr, false);
  }
  testing::TempFolder folder_{"parlex2-cli-run"};
  const std::filesystem::path& dir_ = folder_.Path();
};

// Both reports are written however the run ends, and each says how. The
// wake byte goes out once, with its zero byte, and so does each command.
TEST_F(CliRunTest, ExitStatusAndReportsSayHowTheRunEnded) {
  struct Case {
    const char* what;
    std::vector<std::string> simOptions;
    const char* script;
    const char* input;  // with it, --interactive
    int status;
    const char* out;
    const char* reportStatus;
    std::string received;
  };
  const Case cases[] = {
      // A comment of any bytes and a reply that holds no number, with bytes
      // that cannot stand in XML or JSON as they are: reports that validate.
      {"stopped at a failed reading",
       {"--reading", "volt?=\x01\x02\x7F\xFE\xFF~!"},
       "Check <a> & ]]> \"q\" 'x' \x01\x1F\x7F tab\t caf\xC3\xA9 \xFF\xFE end\n"
       "#bincon,off\n=stop,onfail\n\"volt?\n=reply\n\"never\n",
       "",
       3,
       "> volt?\n\x01\x02\x7F\xFE\xFF~!\n",
       "failed",
       std::string("\x14\0volt?\n\0", 9)},
      {"abandoned at a #wait",
       {},
       "=2\n=1\n=test,hi\n#wait\n=test,hi\n\"never\n",
       "q\\n",
       5,
       "! Press Close to abort script or Press Run to continue\n",
       "stopped",
       std::string("\x14\0", 2)},
      {"continued at a #wait",
       {},
       "#fast\n#wait,w\n=2\n=1\n=test,hi\n#echo,after\n",
       "\\n",
       0,
       "w\nafter\n",
       "passed",
       std::string("\x14\0", 2)},
      // The instrument hangs up after two lines: once the program has seen
      // it (the pause leaves time), the next send fails, but that is no
      // failed send on a connection that holds.
      {"connection lost",
       {"--drop-after", "2"},
       "#fast\n\"volt?\n\"curr?\n=1\n=2\n=test,hi\n#pause,1\n\"late\n",
       "",
       1,
       "> volt?\n1.234\n> curr?\n-0.0125\n> lateERROR SENDING THIS COMMAND\n",
       "connection_lost",
       std::string("\x14\0volt?\n\0curr?\n\0", 16)},
  };
  const std::string xml = folder_.File("r.xml"), json = folder_.File("r.json");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(xml);
    std::filesystem::remove(json);
    const std::string interactive = c.input[0] ? "--interactive " : "";
    std::string received;
    const auto run =
        Run("127.0.0.69", c.simOptions,
            "run " + interactive + Script(c.script) + " --junit " + xml + " --json " + json,
            c.input, &received);
    EXPECT_EQ(run.status, c.status) << run.out;
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(received, c.received);
    const auto report = CheckedReports(xml, json);
    EXPECT_EQ(report["status"], c.reportStatus);
    // The transcript is the output, with each byte that is no UTF-8 replaced.
    EXPECT_EQ(report["transcript"], std::regex_replace(c.out, std::regex("[\xFE\xFF]"), "\uFFFD"));
    EXPECT_EQ(report["tests"].size(), 1u);
    EXPECT_FALSE(report["finished"].is_null());
  }
}

// A report that cannot be written: said, with the run's own result, and a
// status of its own; the other report is written all the same.
TEST_F(CliRunTest, UnwritableReportGivesItsOwnStatusAndTheRunsResult) {
  std::ofstream(dir_ / "plain") << "a file, not a folder";
  const std::string xml = folder_.File("ok.xml"), json = folder_.File("plain/r.json");
  const auto run = Run("127.0.0.68", {},
                       "run " + Script("Supply\n\"volt?\n=3\n=2\n=reply\n=test,out\n") +
                           " --junit " + xml + " --json " + json);
  EXPECT_EQ(run.status, 6);
  EXPECT_EQ(run.out, "> volt?\n1.234\n");
  const std::string err = Err();
  EXPECT_EQ(err.rfind("parlex2: failed: line 6 (Supply): out: 1.234 is outside 2 .. 3\n"
                      "parlex2: cannot write the JSON report " +
                          json + ": ",
                      0),
            0u)
      << err;
  EXPECT_NE(err.find("\nparlex2: the run itself ended with status 3: a test failed\n"),
            std::string::npos)
      << err;
  EXPECT_NE(ReadFileBytes(xml).find("<testcase name=\"Supply\""), std::string::npos);
}

using CliSend = CliRunTest;

// send prints the replies as the pane shows them, and with --timestamps each
// after the computer's time. The wake byte goes out once with its zero byte,
// each typed command with a zero byte after its line end. The comms log holds
// what the instrument sent back as well as the commands; -v prints the same
// trace on standard error, with --log or without, for send, run and set-clock
// alike. run's --timestamps stamps its received lines and echoes.
TEST_F(CliSend, TraceHoldsTheRepliesAndVerboseShowsItBesideTheLog) {
  const std::string log = folder_.File("comms.log");
  std::string received;
  const auto send =
      Run("127.0.0.25", {}, "-v --log " + log + " send --quiet 300 --timestamps volt? bvolt? ^c",
          "", &received);
  EXPECT_EQ(send.status, 0);
  const std::string time = R"(\d\d:\d\d:\d\d\.\d{3} )";
  EXPECT_TRUE(
      std::regex_match(send.out, std::regex(time + R"(1\.234\n)" + time + R"(1\.23400E0\n)" + time +
                                            "ERROR: unknown command\n")))
      << send.out;
  EXPECT_EQ(received, std::string("\x14\0volt?\n\0bvolt?\n\0\x03\n\0", 20));
  std::vector<std::string> expected = {"(00001) [serial:unknown] >>\t\\024",
                                       "(00002) [serial:unknown] >>\tvolt?",
                                       "(00003) [serial:unknown] <<\t1.234",
                                       "(00004) [serial:unknown] >>\tbvolt?",
                                       "(00005) [serial:unknown] <<\t\x81'>;",
                                       "(00006) [serial:unknown] >>\t\x03",
                                       "(00007) [serial:unknown] <<\tERROR: unknown command"};
  const std::string err = folder_.File("err.txt");
  EXPECT_EQ(testing::CommsLogEntries(err), expected);
  expected.insert(expected.begin(), "***\tLOG FILE OPENED\t***");  // the log's own first entry
  EXPECT_EQ(testing::CommsLogEntries(log), expected);

  const auto run = Run("127.0.0.25", {}, "-v run --timestamps " + Script("\"volt?\n#echo,done\n"));
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(
      std::regex_match(run.out, std::regex(time + R"(> volt\?\n)" + time + R"(1\.234\ndone\n)")))
      << run.out;
  EXPECT_EQ(testing::CommsLogEntries(err), std::vector(expected.begin() + 1, expected.begin() + 4));
  EXPECT_EQ(Run("127.0.0.25", {}, "-v set-clock").status, 0);
  const std::string trace = Err();
  EXPECT_NE(trace.find("] >>\t"), std::string::npos) << trace;
  EXPECT_NE(trace.find("] <<\t"), std::string::npos) << trace;
}

// Usage errors (status 2) are found before anything is tried; a connection
// or script that fails is status 1. Each is named. With many instruments, a
// list that cannot run is refused before any child starts.
TEST_F(CliRunTest, UsageErrorsAndFailuresToStartHaveTheirStatuses) {
  const std::string notes = Script("only\nnotes\n"), dir = dir_.string();
  const std::string rack = folder_.Write("rack.txt", "# rack 3\n127.0.0.1\n\n10.0.0.300\n");
  const std::string empty = folder_.Write("empty.txt", "# nothing yet\n\n");
  const std::string port = folder_.Write("ttyUSB0", "");
  std::filesystem::create_symlink(port, folder_.File("by-id"));
  const std::string two = "--lan 127.0.0.1 --lan 127.0.0.2 ";
  const std::tuple<std::string, int, std::string> cases[] = {
      {"--lan 127.0.0.63 run " + notes, 1, notes + " does not appear to be a script file"},
      {"--lan 127.0.0.63 run " + dir, 2, "SCRIPT: no such file: " + dir},
      {"run " + notes, 2, "no connection given"},
      {"--lan 127.0.0.63 run", 2, "SCRIPT is required"},
      {"--lan 127.0.0.23 --baud 9600 send x", 2, "--baud requires --serial"},
      {"--serial /dev/null --baud 12345 send x", 2, "--baud: 12345 not in"},
      {"--lan 127.0.0.300 send x", 2, "--lan: not an IPv4 address: 127.0.0.300"},
      {"--lan 127.0.0.24 bogus", 2, "no such command: bogus"},
      {"--serial /dev/does-not-exist send x", 1, "Unable to open port /dev/does-not-exist"},
      // (Nothing listening on a LAN address is the fault matrix's Refused_send_tcp.)
      {"--lan-file " + rack + " identify", 2, rack + " line 4: not an IPv4 address: 10.0.0.300"},
      {"--lan-file " + folder_.File("missing.txt") + " identify", 2, "cannot read"},
      {"--lan-file " + empty + " identify", 2, empty + " names no address"},
      {"--lan 127.0.0.1 --lan 127.0.0.x identify", 2, "--lan: not an IPv4 address: 127.0.0.x"},
      {"--usb " + port + " --serial " + folder_.File("by-id") + " identify", 2,
       "are the same port: one port cannot carry two connections"},
      {two + "upgrade " + rack, 2, "needs --yes"},
      {two + "run --interactive " + rack, 2, "--interactive asks"},
      {two + "run missing.txt", 2, "SCRIPT: no such file: missing.txt"},
      {two + "find", 2, "find works on one instrument at most"},
      {"--log " + rack + " " + two + "identify", 2, "is a file"},
  };
  for (const auto& [arguments, status, message] : cases) {
    const auto run =
        testing::RunCommand(std::string(PARLEX2_PATH) + " " + arguments + " 2>&1 </dev/null");
    EXPECT_EQ(run.status, status) << arguments;
    EXPECT_NE(run.out.find(message), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("ADDRESS"), std::string::npos) << "no instrument's table: " << run.out;
  }
}

}  // namespace
}  // namespace parlex2
