// parlex2-sim as a process: its endpoints, its options as the server applies
// them, its clean exit and its files, and its soak stream read by the program.
// (What the instrument answers is for its unit tests; how the program copes
// with each fault, for the fault matrix.) Each test listens on an address of
// its own so that suites can run side by side. The client ends are the
// program's own transports.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>

#include "common/clock.h"
#include "link/lan.h"
#include "sim/instrument.h"
#include "support/command_posix.h"
#include "support/simulator.h"
#include "support/temp_folder.h"

namespace parlex2::testing {
namespace {

// The LAN transport ends every write with a zero byte; these are the ones
// between the program's separate sends.
std::string Lan(const std::string& command) { return command + '\0'; }

// A client end: the LAN transport to `where` (an address), or the serial one
// on the pseudo-terminal linked at `where` (a path).
std::unique_ptr<Transport> Open(const std::string& where) {
  std::unique_ptr<Transport> port;
  std::string error;
  const TransportStatus status = where[0] == '/'
                                     ? OpenSerialTransport(where, 9600, port, error)
                                     : LanConnect(where, 10001, SystemClock(), port, error);
  EXPECT_EQ(status, TransportStatus::Ok) << error;
  return port;
}

constexpr char kGone[] = "<gone>";

// What arrives within `ms`, stopping once it ends with `until` or the
// instrument has gone (kGone then ends the text).
std::string Read(Transport& port, int ms, std::string_view until = {}) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  std::string bytes;
  while ((until.empty() || !bytes.ends_with(until)) && std::chrono::steady_clock::now() < end) {
    port.WaitReadable(10);
    unsigned char byte = 0;
    TransportStatus status;
    while ((status = port.ReadByte(byte)) == TransportStatus::Ok) bytes += static_cast<char>(byte);
    if (status == TransportStatus::Failed) return bytes + kGone;
  }
  return bytes;
}

TEST(SimProcess, OptionsReachTheInstrumentAndSigtermLeavesCompleteFiles) {
  Simulator sim(PARLEX2_SIM_PATH);
  std::string error;
  ASSERT_TRUE(sim.Start(
      {"--tcp", "127.0.42.1:10001", "--idn", "Maker,J7B733,5,1", "--calstr", "default_calibration",
       "--calver", "01_APR_2024", "--version", "J7B,A,100", "--ok-case", "upper", "--noise"},
      &error))
      << error;
  EXPECT_EQ(sim.Output(), "tcp 127.0.42.1:10001\nready\n");
  std::unique_ptr<Transport> client = Open("127.0.42.1");
  ASSERT_TRUE(client);
  const std::string noise(sim::kNoise, sim::kNoiseLength);
  const std::pair<std::string, std::string> exchanges[] = {
      {Lan("\x14") + Lan("\x14") + Lan("^[") + "*IDN?\n", "Maker,J7B733,5,1\r\n" + noise},
      {Lan("calstr?\n") + Lan("calver?\n") + "version?\n",
       "default_calibration\r\n01_APR_2024\r\nJ7B,A,100\r\n"},
      {"\x19", std::string(sim::kBootBanner) + "\r\n" + noise},
      {"C7D2z\n", "OK\r\n"},
  };
  std::string received;
  std::string sent;
  for (const auto& [command, expected] : exchanges) {
    client->Write(command);
    const std::string reply = Read(*client, 300);
    EXPECT_EQ(reply, expected) << command;
    received += Lan(command);
    sent += reply;
  }
  ASSERT_TRUE(sim.Stop());
  EXPECT_EQ(sim.Received(), received);
  EXPECT_EQ(sim.Sent(), sent);
  EXPECT_NE(sim.TranscriptText().find("-- stopped"), std::string::npos);
  auto flash = sim.ReadFlash();
  ASSERT_TRUE(flash);
  EXPECT_TRUE(*flash == sim::Flash());
}

// One client at a time: the next waits until this one goes. (Clients in turn
// are the upgrade's reconnections.) The client served gets the measurement
// stream at its rate between "stream on" and "stream off", and only then.
TEST(SimProcess, ServesOneClientAtATimeAndStreamsAtItsRate) {
  Simulator sim(PARLEX2_SIM_PATH);
  ASSERT_TRUE(sim.Start({"--tcp", "127.0.42.3:10001", "--stream", "20"}));
  std::unique_ptr<Transport> first = Open("127.0.42.3");
  std::unique_ptr<Transport> second = Open("127.0.42.3");
  ASSERT_TRUE(first && second);
  second->Write("volt?\n");
  EXPECT_EQ(Read(*second, 300), "");
  first->Write("temp?\n");
  EXPECT_EQ(Read(*first, 2000, "\n"), "23.5\r\n");
  first.reset();
  EXPECT_EQ(Read(*second, 2000, "\n"), "1.234\r\n");
  EXPECT_EQ(Read(*second, 200), "");
  second->Write("stream on\n");
  std::string lines = Read(*second, 1000);
  int count = 0;
  for (std::size_t at = 0; (at = lines.find("stream,", at)) != std::string::npos; ++at) ++count;
  EXPECT_GE(count, 12);
  EXPECT_LE(count, 28);
  EXPECT_EQ(lines.rfind("ok\r\nstream,1,1.234\r\n", 0), 0u) << lines;
  second->Write("stream off\n");
  Read(*second, 200);
  EXPECT_EQ(Read(*second, 300), "");
}

// A dropped pseudo-terminal is unplugged: the link then leads to a new one.
// When the new one cannot be linked, the run ends rather than spin on the
// closed terminal.
TEST(SimProcess, PseudoTerminalIsMadeAgainAfterADropAndItsLossEndsTheRun) {
  Simulator sim(PARLEX2_SIM_PATH);
  TempFolder ports("parlex2-pty");
  const std::string path = ports.File("com7");
  ASSERT_TRUE(sim.Start({"--pty", path, "--drop-after", "2"}));
  EXPECT_EQ(sim.Output().rfind("pty /dev/pts/", 0), 0u) << sim.Output();
  EXPECT_TRUE(sim.Output().ends_with(" " + path + "\nready\n")) << sim.Output();
  const std::filesystem::path before = std::filesystem::read_symlink(path);
  std::unique_ptr<Transport> port = Open(path);
  ASSERT_TRUE(port);
  port->Write("\x14^[*IDN?\nvolt?\n");
  EXPECT_EQ(Read(*port, 2000), std::string(sim::kDefaultIdn) + "\r\n1.234\r\n" + kGone);
  EXPECT_NE(std::filesystem::read_symlink(path), before);
  std::unique_ptr<Transport> again = Open(path);
  ASSERT_TRUE(again);
  again->Write("temp?\n");
  EXPECT_EQ(Read(*again, 2000, "\n"), "23.5\r\n");
  std::filesystem::remove_all(ports.Path());  // the next port has nowhere to be linked
  again->Write("volt?\n");
  EXPECT_EQ(Read(*again, 2000), std::string("1.234\r\n") + kGone);
  EXPECT_EQ(sim.WaitExit(3000), 1);
  EXPECT_NE(sim.TranscriptText().find("-- pty could not be made again"), std::string::npos)
      << sim.TranscriptText();
}

TEST(SimProcess, HelpAndBadOptions) {
  const auto help = RunCommand(std::string(PARLEX2_SIM_PATH) + " --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Usage: "), std::string::npos) << help.out;
  // Refused with the usage status, whoever finds the fault: the option
  // parser or the simulator's own reading of a value.
  for (const char* bad : {"--tcp 127.0.42.10:99999", "--mode loud", "--refuse-record 3",
                          "--ok-case lower-ish", "--delay x", "--bogus"}) {
    const auto run = RunCommand(std::string(PARLEX2_SIM_PATH) + " " + bad + " 2>/dev/null");
    EXPECT_EQ(run.status, 2) << bad;
    EXPECT_EQ(run.out, "") << bad;
  }
}

// The short soak: a couple of megabytes of the simulator's soak stream through
// the link and the poller, over TCP and over the pseudo-terminal. Nothing may
// be lost, doubled, reordered or damaged. (The long form, with its memory
// figures, is scripts/soak.sh.)
class Soak : public ::testing::TestWithParam<std::string> {};

TEST_P(Soak, StreamArrivesWhole) {
  const TempFolder dir("parlex2-soak");
  const bool tcp = GetParam() == "tcp";
  Simulator sim(PARLEX2_SIM_PATH);
  ASSERT_TRUE(sim.Start(tcp ? std::vector<std::string>{"--tcp", "127.77.0.71:10001"}
                            : std::vector<std::string>{"--pty", dir.File("com")}));
  const std::string connection = tcp ? "--lan 127.77.0.71" : "--usb " + dir.File("com");
  const auto run = RunCommand(std::string("timeout 120 ") + PARLEX2_SOAK_PATH + " " + connection +
                              " --bytes 2000000 2>&1");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("lost 0, doubled 0, damaged 0, end line agrees"), std::string::npos)
      << run.out;
  EXPECT_TRUE(sim.Stop());
  // A stopped simulator leaves no link to its pseudo-terminal behind.
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(dir.File("com"))));
}

INSTANTIATE_TEST_SUITE_P(, Soak, ::testing::Values("tcp", "pty"),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           return info.param;
                         });

}  // namespace
}  // namespace parlex2::testing
