// The fault matrix: every fault the simulator can put on the line against every
// operation of the command line, over TCP and over a pseudo-terminal. Each
// cell runs `parlex2` as a program and checks its exit status, the message it
// gives, that it ends within a bound set by its own time-outs, that the comms
// log it wrote holds whole lines only, and that the next command against a
// sound instrument at the same place works.
//
// The upgrade writes one sector from a descriptor (32 records), answering
// yes to every question.
//
// The table is the README's "Behaviour under faults" table; run the suite with
// PARLEX2_FAULT_MATRIX_PRINT=1 to print every cell's outcome as a table row.
//
// `find` has no column: it broadcasts, so it may only run inside a network
// namespace, which needs root (discovery_netns_test_posix.cpp covers it there).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/command_posix.h"
#include "support/simulator.h"
#include "support/temp_folder.h"
#include "support/upgrade_support.h"

namespace parlex2 {
namespace {

enum class Via { Tcp, Pty, Both };

// A fault is the simulator options that make it, as the printed table names
// them, or one of these, which the test makes itself.
constexpr char kNone[] = "none";                             // the row others are read against
constexpr char kRefused[] = "TCP refused";                   // nothing listens
constexpr char kPtyReplaced[] = "pty replaced mid-session";  // a new simulator takes the path
// Faults where a correct program reads nothing (junk it discards, a record
// refusal or "OK" where only the upgrade reads replies): their cells are the
// sound instrument's, and the upgrade must still succeed.
const char* const kUnnoticed[] = {"--noise", "--refuse-record 1:2", "--ok-case upper"};

struct Cell {
  const char* fault;
  const char* operation;  // identify, send, run, set-clock, upgrade
  Via via;                // Both: a cell for TCP and one for the pty
  int status;             // expected exit status
  const char* message;    // expected in the program's output; "=..." the whole output
  int boundMs;            // the program has ended by then
  int number = 0;         // the cell's place in the matrix
};

constexpr char kClockNotSet[] =
    "parlex2: the clock commands could not all be sent: the instrument closed the connection";
constexpr char kIdentified[] = "Veltmark,VXM66,10472,2.15";
constexpr char kRun[] = "=> volt?\n1.234\n> curr?\n-0.0125\ndone\n";
constexpr char kRunUnanswered[] = "=> volt?\nTIMEOUT\n> curr?\nTIMEOUT\ndone\n";
constexpr char kReadProblem[] = "A problem has occurred trying to read data from the instrument";
constexpr char kNotInitialised[] = "ERROR: Instrument failed to initialise";
constexpr char kUpgraded[] = "Firmware sent OK";
constexpr char kNotConnected[] = "Failed to connect to IP address";

const Cell kRows[] = {
    {kNone, "identify", Via::Both, 0, kIdentified, 8000},
    {kNone, "send", Via::Both, 0, "=1.234\n-0.0125\n", 5000},
    {kNone, "run", Via::Both, 0, kRun, 12000},
    {kNone, "set-clock", Via::Both, 0, "=", 5000},
    {kNone, "upgrade", Via::Both, 0, kUpgraded, 25000},
    {"--delay 700", "identify", Via::Both, 0, kIdentified, 8000},
    {"--delay 700", "send", Via::Both, 0, "=", 5000},
    {"--delay 700", "run", Via::Both, 0, kRun, 12000},
    {"--delay 700", "set-clock", Via::Both, 0, "=", 5000},
    // Over TCP a reply still on its way when the upgrade reconnects dies with
    // the connection. A serial line keeps it: identification asks again every
    // 500 ms, so replies later than that can answer a later question (even
    // the next connection's *IDN?), and whether one does is a race of a few
    // milliseconds. The pty's slow-instrument cell is within the read.
    {"--delay 700", "upgrade", Via::Tcp, 0, kUpgraded, 80000},
    {"--delay 400", "upgrade", Via::Pty, 0, kUpgraded, 60000},
    {"--drop-after 2", "identify", Via::Both, 0, kIdentified, 8000},
    {"--drop-after 2", "send", Via::Both, 1,
     "1.234\n-0.0125\nparlex2: the instrument closed the connection", 5000},
    {"--drop-after 2", "run", Via::Both, 1, kReadProblem, 12000},
    {"--drop-after 2", "set-clock", Via::Both, 1, kClockNotSet, 5000},
    {"--drop-after 2", "upgrade", Via::Both, 1, kNotInitialised, 15000},
    {"--mute-after 1", "identify", Via::Both, 0, kIdentified, 22000},
    {"--mute-after 1", "send", Via::Both, 0, "=1.234\n", 5000},
    {"--mute-after 1", "run", Via::Both, 0, "=> volt?\n1.234\n> curr?\nTIMEOUT\ndone\n", 12000},
    {"--mute-after 1", "set-clock", Via::Both, 0, "=", 5000},
    // Identified once (the identity replies each wait their time-out), then
    // the boot loader does not answer.
    {"--mute-after 1", "upgrade", Via::Both, 1, kNotInitialised, 45000},
    {"--mode silent", "identify", Via::Both, 1, "The connection failed", 8000},
    {"--mode silent", "send", Via::Both, 0, "=", 5000},
    {"--mode silent", "run", Via::Both, 0, kRunUnanswered, 14000},
    {"--mode silent", "set-clock", Via::Both, 0, "=", 5000},
    {"--mode silent", "upgrade", Via::Both, 1,
     "No instrument could be identified, so the upgrade cannot continue", 20000},
    {"--mode bootcode", "identify", Via::Both, 0, "Bootcode Only Instrument", 8000},
    {"--mode bootcode", "send", Via::Both, 0, "=", 5000},
    {"--mode bootcode", "run", Via::Both, 0, kRunUnanswered, 14000},
    {"--mode bootcode", "set-clock", Via::Both, 0, "=", 5000},
    {"--mode bootcode", "upgrade", Via::Both, 0, kUpgraded, 25000},
    {kRefused, "identify", Via::Tcp, 1, kNotConnected, 5000},
    {kRefused, "send", Via::Tcp, 1, kNotConnected, 5000},
    {kRefused, "run", Via::Tcp, 1, kNotConnected, 5000},
    {kRefused, "set-clock", Via::Tcp, 1, kNotConnected, 5000},
    {kRefused, "upgrade", Via::Tcp, 1, kNotConnected, 5000},
    {kPtyReplaced, "send", Via::Pty, 1, "the instrument closed the connection", 8000},
    {kPtyReplaced, "run", Via::Pty, 1, kReadProblem, 12000},
    // The instrument identified is gone before the boot loader is woken.
    {kPtyReplaced, "upgrade", Via::Pty, 1, kNotInitialised, 25000},
};

// The rows and the unnoticed faults' copies of the sound rows made cells, every
// Both row a TCP cell and a pty cell.
std::vector<Cell> Cells() {
  std::vector<Cell> rows(std::begin(kRows), std::end(kRows));
  for (const char* fault : kUnnoticed) {
    for (const Cell& row : kRows) {
      if (row.fault != kNone) continue;
      rows.push_back(row);
      rows.back().fault = fault;
    }
  }
  std::vector<Cell> all;
  for (const Cell& row : rows) {
    for (Via via : {Via::Tcp, Via::Pty}) {
      if (row.via == Via::Both || row.via == via) {
        all.push_back(row);
        all.back().via = via;
        all.back().number = static_cast<int>(all.size());
      }
    }
  }
  return all;
}

// "--drop-after 2", "run", TCP: DropAfter2_run_tcp.
std::string CellName(const ::testing::TestParamInfo<Cell>& info) {
  std::string name;
  bool capital = true;
  for (const unsigned char c : std::string(info.param.fault)) {
    if (std::isalnum(c)) name += static_cast<char>(capital ? std::toupper(c) : c);
    capital = !std::isalnum(c);
  }
  std::string operation = info.param.operation;
  std::replace(operation.begin(), operation.end(), '-', '_');
  return name + "_" + operation + (info.param.via == Via::Tcp ? "_tcp" : "_pty");
}

// Shown in place of the cell's bytes where a test's parameter is printed.
void PrintTo(const Cell& cell, std::ostream* out) { *out << CellName({cell, 0}); }

class FaultMatrix : public ::testing::TestWithParam<Cell> {
 protected:
  std::vector<std::string> Endpoint() const {
    if (GetParam().via == Via::Tcp) return {"--tcp", address_ + ":10001"};
    return {"--pty", dir_.File("com")};
  }
  std::string Connection() const {
    return GetParam().via == Via::Tcp ? "--lan " + address_ : "--usb " + dir_.File("com");
  }
  std::string Arguments(const std::string& operation) const {
    std::string args = Connection() + " --log " + dir_.File("comms.log") + " ";
    if (operation == "send") {
      // Replaced mid-session: still waiting for replies when the pty goes.
      return args + "send --quiet " + (GetParam().fault == kPtyReplaced ? "3000" : "300") +
             " volt? curr?";
    }
    if (operation == "run") return args + "run " + dir_.File("script.txt");
    if (operation == "upgrade") return args + "upgrade --yes " + dir_.File("set.upg");
    return args + operation;
  }

  testing::TempFolder dir_{"parlex2-faults"};
  // A loopback address of the cell's own: cells run side by side.
  std::string address_ = "127.77.9." + std::to_string(GetParam().number % 250);
};

TEST_P(FaultMatrix, Cell) {
  const Cell& cell = GetParam();
  dir_.Write("script.txt", "\"volt?\n#reply,2\n#pause,2\n\"curr?\n#reply,2\n#echo,done\n");
  dir_.Write("set.upg", "TARGET,VXM66\r\nLOAD,2,fw.hex\r\n");
  dir_.Write("fw.hex", testing::HexFile(7, 32, 0, "\r\n"));  // 32 records of 16 bytes

  testing::Simulator sim(PARLEX2_SIM_PATH);
  if (cell.fault != kRefused) {
    std::vector<std::string> options = Endpoint();
    if (cell.fault[0] == '-') {
      std::istringstream words(cell.fault);
      for (std::string word; words >> word;) options.push_back(word);
    }
    std::string error;
    ASSERT_TRUE(sim.Start(options, &error)) << error;
  }

  const auto start = std::chrono::steady_clock::now();
  testing::CommandRun run;
  std::chrono::steady_clock::time_point end;
  std::thread command([&] {
    run = testing::RunCommand("timeout 60 " + std::string(PARLEX2_PATH) + " " +
                              Arguments(cell.operation) + " </dev/null 2>&1");
    end = std::chrono::steady_clock::now();
  });
  // The pty's other end goes away while the command waits, and a new
  // simulator takes the same path (started here: simulators live as long as
  // the thread that starts them).
  testing::Simulator next(PARLEX2_SIM_PATH);
  if (cell.fault == kPtyReplaced) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    sim.Stop();
    next.Start(Endpoint());
  }
  command.join();
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(end - start).count();

  if (std::getenv("PARLEX2_FAULT_MATRIX_PRINT")) {
    std::string flat = run.out;
    std::replace(flat.begin(), flat.end(), '\n', '/');
    std::printf("| %s | %s | %s | %d | %s | %lld ms |\n", cell.fault, cell.operation,
                cell.via == Via::Tcp ? "TCP" : "pty", run.status, flat.substr(0, 110).c_str(),
                static_cast<long long>(elapsed));
  }
  EXPECT_EQ(run.status, cell.status) << run.out;
  if (cell.message[0] == '=') {
    EXPECT_EQ(run.out, cell.message + 1);
  } else {
    EXPECT_NE(run.out.find(cell.message), std::string::npos) << run.out;
  }
  EXPECT_LT(elapsed, cell.boundMs) << run.out;

  // The comms log is whole lines, however the command ended.
  const std::string log = testing::ReadFileBytes(dir_.File("comms.log"));
  EXPECT_TRUE(log.empty() || log.back() == '\n') << log;

  // The next command against a sound instrument at the same place works.
  for (testing::Simulator* faulty : {&sim, &next}) {
    ASSERT_TRUE(!faulty->Running() || faulty->Stop());
  }
  testing::Simulator sound(PARLEX2_SIM_PATH);
  ASSERT_TRUE(sound.Start(Endpoint()));
  const testing::CommandRun again = testing::RunCommand(
      "timeout 30 " + std::string(PARLEX2_PATH) + " " + Connection() + " identify </dev/null 2>&1");
  EXPECT_EQ(again.status, 0) << again.out;
  EXPECT_NE(again.out.find("VXM66"), std::string::npos) << again.out;
  EXPECT_TRUE(sound.Stop());
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix, ::testing::ValuesIn(Cells()), CellName);

}  // namespace
}  // namespace parlex2
