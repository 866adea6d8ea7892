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
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/intel_hex.h"
#include "support/command_posix.h"
#include "support/simulator.h"

namespace parlex2 {
namespace {

namespace fs = std::filesystem;

enum class Via { Tcp, Pty };

// What happens to the instrument's side.
enum class Fault {
  None,          // a sound instrument (the row every other row is read against)
  Delay,         // --delay 700: every reply later than identification's 500 ms read
  DelayWithin,   // --delay 400: slow, but within that read
  DropAfter,     // --drop-after 2: the connection closes after two received lines
  MuteAfter,     // --mute-after 1: one answer, then nothing
  Noise,         // --noise: junk where a correct program discards input
  RefuseRecord,  // --refuse-record 1:2 (only the upgrade sends records)
  OkUpper,       // --ok-case upper: "OK" for "ok"
  Silent,        // --mode silent: nothing answers
  Bootcode,      // --mode bootcode: only the boot code runs
  Refused,       // TCP: nothing listens
  PtyReplaced,   // pty: the simulator ends mid-session and a new one takes the path
};

struct Cell {
  Fault fault;
  const char* operation;  // identify, send, run, set-clock, upgrade
  Via via;
  int status;           // expected exit status
  const char* message;  // expected in the program's output; "=..." the whole output
  int boundMs;          // the program has ended by then
};

const char* FaultName(Fault f) {
  switch (f) {
    case Fault::None:
      return "none";
    case Fault::Delay:
      return "--delay 700";
    case Fault::DelayWithin:
      return "--delay 400";
    case Fault::DropAfter:
      return "--drop-after 2";
    case Fault::MuteAfter:
      return "--mute-after 1";
    case Fault::Noise:
      return "--noise";
    case Fault::RefuseRecord:
      return "--refuse-record 1:2";
    case Fault::OkUpper:
      return "--ok-case upper";
    case Fault::Silent:
      return "--mode silent";
    case Fault::Bootcode:
      return "--mode bootcode";
    case Fault::Refused:
      return "TCP refused";
    case Fault::PtyReplaced:
      return "pty replaced mid-session";
  }
  return "?";
}

std::vector<std::string> SimOptions(Fault f) {
  switch (f) {
    case Fault::Delay:
      return {"--delay", "700"};
    case Fault::DelayWithin:
      return {"--delay", "400"};
    case Fault::DropAfter:
      return {"--drop-after", "2"};
    case Fault::MuteAfter:
      return {"--mute-after", "1"};
    case Fault::Noise:
      return {"--noise"};
    case Fault::RefuseRecord:
      return {"--refuse-record", "1:2"};
    case Fault::OkUpper:
      return {"--ok-case", "upper"};
    case Fault::Silent:
      return {"--mode", "silent"};
    case Fault::Bootcode:
      return {"--mode", "bootcode"};
    default:
      return {};
  }
}

constexpr char kClockNotSet[] =
    "parlex2: the clock commands could not all be sent: the instrument closed the connection";

// Every cell's expected outcome. A message starting with '=' is the whole
// output; otherwise the output contains it.
const Cell kCells[] = {
    {Fault::None, "identify", Via::Tcp, 0, "Veltmark,VXM66,10472,2.15", 8000},
    {Fault::None, "send", Via::Tcp, 0, "=1.234\n-0.0125\n", 5000},
    {Fault::None, "run", Via::Tcp, 0, "=> volt?\n1.234\n> curr?\n-0.0125\ndone\n", 12000},
    {Fault::None, "set-clock", Via::Tcp, 0, "=", 5000},
    {Fault::None, "identify", Via::Pty, 0, "Veltmark,VXM66,10472,2.15", 8000},
    {Fault::None, "send", Via::Pty, 0, "=1.234\n-0.0125\n", 5000},
    {Fault::None, "run", Via::Pty, 0, "=> volt?\n1.234\n> curr?\n-0.0125\ndone\n", 12000},
    {Fault::None, "set-clock", Via::Pty, 0, "=", 5000},
    {Fault::Delay, "identify", Via::Tcp, 0, "Veltmark,VXM66,10472,2.15", 8000},
    {Fault::Delay, "send", Via::Tcp, 0, "=", 5000},
    {Fault::Delay, "run", Via::Tcp, 0, "=> volt?\n1.234\n> curr?\n-0.0125\ndone\n", 12000},
    {Fault::Delay, "set-clock", Via::Tcp, 0, "=", 5000},
    {Fault::Delay, "identify", Via::Pty, 0, "Veltmark,VXM66,10472,2.15", 8000},
    {Fault::Delay, "send", Via::Pty, 0, "=", 5000},
    {Fault::Delay, "run", Via::Pty, 0, "=> volt?\n1.234\n> curr?\n-0.0125\ndone\n", 12000},
    {Fault::Delay, "set-clock", Via::Pty, 0, "=", 5000},
    {Fault::DropAfter, "identify", Via::Tcp, 0, "Veltmark,VXM66,10472,2.15", 8000},
    {Fault::DropAfter, "send", Via::Tcp, 1,
     "1.234\n-0.0125\nparlex2: the instrument closed the connection", 5000},
    {Fault::DropAfter, "run", Via::Tcp, 1,
     "A problem has occurred trying to read data from the instrument", 12000},
    {Fault::DropAfter, "set-clock", Via::Tcp, 1, kClockNotSet, 5000},
    {Fault::DropAfter, "identify", Via::Pty, 0, "Veltmark,VXM66,10472,2.15", 8000},
    {Fault::DropAfter, "send", Via::Pty, 1,
     "1.234\n-0.0125\nparlex2: the instrument closed the connection", 5000},
    {Fault::DropAfter, "run", Via::Pty, 1,
     "A problem has occurred trying to read data from the instrument", 12000},
    {Fault::DropAfter, "set-clock", Via::Pty, 1, kClockNotSet, 5000},
    {Fault::MuteAfter, "identify", Via::Tcp, 0, "Veltmark,VXM66,10472,2.15", 22000},
    {Fault::MuteAfter, "send", Via::Tcp, 0, "=1.234\n", 5000},
    {Fault::MuteAfter, "run", Via::Tcp, 0, "=> volt?\n1.234\n> curr?\nTIMEOUT\ndone\n", 12000},
    {Fault::MuteAfter, "set-clock", Via::Tcp, 0, "=", 5000},
    {Fault::MuteAfter, "identify", Via::Pty, 0, "Veltmark,VXM66,10472,2.15", 22000},
    {Fault::MuteAfter, "send", Via::Pty, 0, "=1.234\n", 5000},
    {Fault::MuteAfter, "run", Via::Pty, 0, "=> volt?\n1.234\n> curr?\nTIMEOUT\ndone\n", 12000},
    {Fault::MuteAfter, "set-clock", Via::Pty, 0, "=", 5000},
    {Fault::Noise, "identify", Via::Tcp, 0, "Veltmark,VXM66,10472,2.15", 8000},
    {Fault::Noise, "send", Via::Tcp, 0, "=1.234\n-0.0125\n", 5000},
    {Fault::Noise, "run", Via::Tcp, 0, "=> volt?\n1.234\n> curr?\n-0.0125\ndone\n", 12000},
    {Fault::Noise, "set-clock", Via::Tcp, 0, "=", 5000},
    {Fault::Noise, "identify", Via::Pty, 0, "Veltmark,VXM66,10472,2.15", 8000},
    {Fault::Noise, "send", Via::Pty, 0, "=1.234\n-0.0125\n", 5000},
    {Fault::Noise, "run", Via::Pty, 0, "=> volt?\n1.234\n> curr?\n-0.0125\ndone\n", 12000},
    {Fault::Noise, "set-clock", Via::Pty, 0, "=", 5000},
    {Fault::RefuseRecord, "identify", Via::Tcp, 0, "Veltmark,VXM66,10472,2.15", 8000},
    {Fault::RefuseRecord, "send", Via::Tcp, 0, "=1.234\n-0.0125\n", 5000},
    {Fault::RefuseRecord, "run", Via::Tcp, 0, "=> volt?\n1.234\n> curr?\n-0.0125\ndone\n", 12000},
    {Fault::RefuseRecord, "set-clock", Via::Tcp, 0, "=", 5000},
    {Fault::RefuseRecord, "identify", Via::Pty, 0, "Veltmark,VXM66,10472,2.15", 8000},
    {Fault::RefuseRecord, "send", Via::Pty, 0, "=1.234\n-0.0125\n", 5000},
    {Fault::RefuseRecord, "run", Via::Pty, 0, "=> volt?\n1.234\n> curr?\n-0.0125\ndone\n", 12000},
    {Fault::RefuseRecord, "set-clock", Via::Pty, 0, "=", 5000},
    {Fault::OkUpper, "identify", Via::Tcp, 0, "Veltmark,VXM66,10472,2.15", 8000},
    {Fault::OkUpper, "send", Via::Tcp, 0, "=1.234\n-0.0125\n", 5000},
    {Fault::OkUpper, "run", Via::Tcp, 0, "=> volt?\n1.234\n> curr?\n-0.0125\ndone\n", 12000},
    {Fault::OkUpper, "set-clock", Via::Tcp, 0, "=", 5000},
    {Fault::OkUpper, "identify", Via::Pty, 0, "Veltmark,VXM66,10472,2.15", 8000},
    {Fault::OkUpper, "send", Via::Pty, 0, "=1.234\n-0.0125\n", 5000},
    {Fault::OkUpper, "run", Via::Pty, 0, "=> volt?\n1.234\n> curr?\n-0.0125\ndone\n", 12000},
    {Fault::OkUpper, "set-clock", Via::Pty, 0, "=", 5000},
    {Fault::Silent, "identify", Via::Tcp, 1, "The connection failed", 8000},
    {Fault::Silent, "send", Via::Tcp, 0, "=", 5000},
    {Fault::Silent, "run", Via::Tcp, 0, "=> volt?\nTIMEOUT\n> curr?\nTIMEOUT\ndone\n", 14000},
    {Fault::Silent, "set-clock", Via::Tcp, 0, "=", 5000},
    {Fault::Silent, "identify", Via::Pty, 1, "The connection failed", 8000},
    {Fault::Silent, "send", Via::Pty, 0, "=", 5000},
    {Fault::Silent, "run", Via::Pty, 0, "=> volt?\nTIMEOUT\n> curr?\nTIMEOUT\ndone\n", 14000},
    {Fault::Silent, "set-clock", Via::Pty, 0, "=", 5000},
    {Fault::Bootcode, "identify", Via::Tcp, 0, "Bootcode Only Instrument", 8000},
    {Fault::Bootcode, "send", Via::Tcp, 0, "=", 5000},
    {Fault::Bootcode, "run", Via::Tcp, 0, "=> volt?\nTIMEOUT\n> curr?\nTIMEOUT\ndone\n", 14000},
    {Fault::Bootcode, "set-clock", Via::Tcp, 0, "=", 5000},
    {Fault::Bootcode, "identify", Via::Pty, 0, "Bootcode Only Instrument", 8000},
    {Fault::Bootcode, "send", Via::Pty, 0, "=", 5000},
    {Fault::Bootcode, "run", Via::Pty, 0, "=> volt?\nTIMEOUT\n> curr?\nTIMEOUT\ndone\n", 14000},
    {Fault::Bootcode, "set-clock", Via::Pty, 0, "=", 5000},
    {Fault::Refused, "identify", Via::Tcp, 1, "Failed to connect to IP address", 5000},
    {Fault::Refused, "send", Via::Tcp, 1, "Failed to connect to IP address", 5000},
    {Fault::Refused, "run", Via::Tcp, 1, "Failed to connect to IP address", 5000},
    {Fault::Refused, "set-clock", Via::Tcp, 1, "Failed to connect to IP address", 5000},
    {Fault::PtyReplaced, "send", Via::Pty, 1, "the instrument closed the connection", 8000},
    {Fault::PtyReplaced, "run", Via::Pty, 1,
     "A problem has occurred trying to read data from the instrument", 12000},
    {Fault::None, "upgrade", Via::Tcp, 0, "Firmware sent OK", 25000},
    {Fault::None, "upgrade", Via::Pty, 0, "Firmware sent OK", 25000},
    // Over TCP a reply still on its way when the upgrade reconnects dies with
    // the connection. A serial line keeps it: identification asks again every
    // 500 ms, so replies later than that can answer a later question (even
    // the next connection's *IDN?), and whether one does is a race of a few
    // milliseconds. The pty's slow-instrument cell is within the read.
    {Fault::Delay, "upgrade", Via::Tcp, 0, "Firmware sent OK", 80000},
    {Fault::DelayWithin, "upgrade", Via::Pty, 0, "Firmware sent OK", 60000},
    {Fault::DropAfter, "upgrade", Via::Tcp, 1, "ERROR: Instrument failed to initialise", 15000},
    {Fault::DropAfter, "upgrade", Via::Pty, 1, "ERROR: Instrument failed to initialise", 15000},
    // Identified once (the identity replies each wait their time-out), then
    // the boot loader does not answer.
    {Fault::MuteAfter, "upgrade", Via::Tcp, 1, "ERROR: Instrument failed to initialise", 45000},
    {Fault::MuteAfter, "upgrade", Via::Pty, 1, "ERROR: Instrument failed to initialise", 45000},
    {Fault::Noise, "upgrade", Via::Tcp, 0, "Firmware sent OK", 25000},
    {Fault::Noise, "upgrade", Via::Pty, 0, "Firmware sent OK", 25000},
    {Fault::RefuseRecord, "upgrade", Via::Tcp, 0, "Firmware sent OK", 25000},
    {Fault::RefuseRecord, "upgrade", Via::Pty, 0, "Firmware sent OK", 25000},
    {Fault::OkUpper, "upgrade", Via::Tcp, 0, "Firmware sent OK", 25000},
    {Fault::OkUpper, "upgrade", Via::Pty, 0, "Firmware sent OK", 25000},
    {Fault::Silent, "upgrade", Via::Tcp, 1,
     "No instrument could be identified, so the upgrade cannot continue", 20000},
    {Fault::Silent, "upgrade", Via::Pty, 1,
     "No instrument could be identified, so the upgrade cannot continue", 20000},
    {Fault::Bootcode, "upgrade", Via::Tcp, 0, "Firmware sent OK", 25000},
    {Fault::Bootcode, "upgrade", Via::Pty, 0, "Firmware sent OK", 25000},
    {Fault::Refused, "upgrade", Via::Tcp, 1, "Failed to connect to IP address", 5000},
    // The instrument identified is gone before the boot loader is woken.
    {Fault::PtyReplaced, "upgrade", Via::Pty, 1, "ERROR: Instrument failed to initialise", 25000},
};

std::string CellName(const ::testing::TestParamInfo<Cell>& info) {
  std::string name = std::string(FaultName(info.param.fault)) + "_" + info.param.operation + "_" +
                     (info.param.via == Via::Tcp ? "tcp" : "pty");
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

class FaultMatrix : public ::testing::TestWithParam<Cell> {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("parlex2-faults-" + std::to_string(::getpid()) + "-" + CellName({GetParam(), 0}));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    // A loopback address of the cell's own: cells run two at once.
    std::size_t index = 0;
    for (; index < std::size(kCells); ++index) {
      const Cell& c = kCells[index];
      if (c.fault == GetParam().fault && c.via == GetParam().via &&
          std::string(c.operation) == GetParam().operation) {
        break;
      }
    }
    address_ = "127.77.9." + std::to_string(1 + index % 250);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::vector<std::string> Endpoint() const {
    if (GetParam().via == Via::Tcp) return {"--tcp", address_ + ":10001"};
    return {"--pty", (dir_ / "com").string()};
  }
  std::string Connection() const {
    return GetParam().via == Via::Tcp ? "--lan " + address_ : "--usb " + (dir_ / "com").string();
  }
  std::string Arguments(const std::string& operation) const {
    std::string args = Connection() + " --log " + (dir_ / "comms.log").string() + " ";
    if (operation == "send") {
      // Replaced mid-session: still waiting for replies when the pty goes.
      return args + "send --quiet " + (GetParam().fault == Fault::PtyReplaced ? "3000" : "300") +
             " volt? curr?";
    }
    if (operation == "run") return args + "run " + (dir_ / "script.txt").string();
    if (operation == "upgrade") return args + "upgrade --yes " + (dir_ / "set.upg").string();
    return args + operation;
  }

  fs::path dir_;
  std::string address_;
};

TEST_P(FaultMatrix, Cell) {
  const Cell& cell = GetParam();
  std::ofstream(dir_ / "script.txt")
      << "\"volt?\n#reply,2\n#pause,2\n\"curr?\n#reply,2\n#echo,done\n";
  // An upgrade of one sector from a descriptor: 32 records of 16 bytes.
  std::ofstream(dir_ / "set.upg") << "TARGET,VXM66\r\nLOAD,2,fw.hex\r\n";
  {
    std::ofstream hex(dir_ / "fw.hex", std::ios::binary);
    for (int i = 0; i < 32; ++i) {
      hex << sim::MakeHexRecord(0, static_cast<std::uint16_t>(i * 16),
                                std::string(16, static_cast<char>('A' + i % 26)))
          << "\r\n";
    }
    hex << sim::MakeHexRecord(1, 0, "") << "\r\n";
  }

  testing::Simulator sim(PARLEX2_SIM_PATH);
  if (cell.fault != Fault::Refused) {
    std::vector<std::string> options = Endpoint();
    for (const auto& o : SimOptions(cell.fault)) options.push_back(o);
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
  if (cell.fault == Fault::PtyReplaced) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    sim.Stop();
    next.Start(Endpoint());
  }
  command.join();
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(end - start).count();

  if (std::getenv("PARLEX2_FAULT_MATRIX_PRINT")) {
    std::string flat = run.out;
    for (char& c : flat) {
      if (c == '\n') c = '/';
    }
    std::printf("| %s | %s | %s | %d | %s | %lld ms |\n", FaultName(cell.fault), cell.operation,
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
  std::ifstream logFile(dir_ / "comms.log", std::ios::binary);
  std::stringstream log;
  log << logFile.rdbuf();
  if (!log.str().empty()) {
    EXPECT_EQ(log.str().back(), '\n');
  }

  // The next command against a sound instrument at the same place works.
  if (sim.Running()) {
    ASSERT_TRUE(sim.Stop());
  }
  if (next.Running()) {
    ASSERT_TRUE(next.Stop());
  }
  testing::Simulator sound(PARLEX2_SIM_PATH);
  ASSERT_TRUE(sound.Start(Endpoint()));
  const testing::CommandRun again = testing::RunCommand(
      "timeout 30 " + std::string(PARLEX2_PATH) + " " + Connection() + " identify </dev/null 2>&1");
  EXPECT_EQ(again.status, 0) << again.out;
  EXPECT_NE(again.out.find("VXM66"), std::string::npos) << again.out;
  EXPECT_TRUE(sound.Stop());
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix, ::testing::ValuesIn(kCells), CellName);

}  // namespace
}  // namespace parlex2
