// parlex2-sim as a process: its endpoints, its options as the server applies
// them, its clean exit and its files. (What the instrument answers is for its
// unit tests; how the program copes with each fault, for the fault matrix.)
// Each test listens on an address of its own so that suites can run side by side.
#include <gtest/gtest.h>

#include <filesystem>

#include "sim/instrument.h"
#include "support/command_posix.h"
#include "support/simulator.h"
#include "support/temp_folder.h"

namespace parlex2::testing {
namespace {

// Over TCP the program follows every send with a zero byte.
std::string Lan(const std::string& command) { return command + '\0'; }

TEST(SimProcess, OptionsReachTheInstrumentAndSigtermLeavesCompleteFiles) {
  Simulator sim(PARLEX2_SIM_PATH);
  std::string error;
  ASSERT_TRUE(sim.Start(
      {"--tcp", "127.0.42.1:10001", "--idn", "Maker,J7B733,5,1", "--calstr", "default_calibration",
       "--calver", "01_APR_2024", "--version", "J7B,A,100", "--ok-case", "upper", "--noise"},
      &error))
      << error;
  EXPECT_EQ(sim.Banner(), std::vector<std::string>{"tcp 127.0.42.1:10001"});
  SimClient client = SimClient::ConnectTcp("127.0.42.1", 10001);
  ASSERT_TRUE(client.IsOpen());
  const std::string noise(sim::kNoise, sim::kNoiseLength);
  const std::pair<std::string, std::string> exchanges[] = {
      {Lan("\x14") + Lan("\x14") + Lan("^[") + Lan("*IDN?\n"), "Maker,J7B733,5,1\r\n" + noise},
      {Lan("calstr?\n") + Lan("calver?\n") + Lan("version?\n"),
       "default_calibration\r\n01_APR_2024\r\nJ7B,A,100\r\n"},
      {Lan("\x19"), std::string(sim::kBootBanner) + "\r\n" + noise},
      {Lan("C7D2z\n"), "OK\r\n"},
  };
  std::string received;
  std::string sent;
  for (const auto& [command, expected] : exchanges) {
    client.Send(command);
    const std::string reply = client.ReadFor(300);
    EXPECT_EQ(reply, expected) << command;
    received += command;
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
// are the upgrade's reconnections.)
TEST(SimProcess, ServesOneClientAtATime) {
  Simulator sim(PARLEX2_SIM_PATH);
  ASSERT_TRUE(sim.Start({"--tcp", "127.0.42.3:10001"}));
  SimClient first = SimClient::ConnectTcp("127.0.42.3", 10001);
  SimClient second = SimClient::ConnectTcp("127.0.42.3", 10001);
  ASSERT_TRUE(first.IsOpen() && second.IsOpen());
  second.Send("volt?\n");
  EXPECT_EQ(second.ReadLine(300), std::nullopt);
  first.Send("temp?\n");
  EXPECT_EQ(first.ReadLine(2000), "23.5");
  first.Close();
  EXPECT_EQ(second.ReadLine(2000), "1.234");
}

// A dropped pseudo-terminal is unplugged: the link then leads to a new one.
// When the new one cannot be linked, the run ends rather than spin on the
// closed terminal.
TEST(SimProcess, PseudoTerminalIsMadeAgainAfterADropAndItsLossEndsTheRun) {
  Simulator sim(PARLEX2_SIM_PATH);
  TempFolder folder("parlex2-pty");
  const std::filesystem::path ports = folder.Path() / "ports";
  std::filesystem::create_directory(ports);
  const std::string path = (ports / "com7").string();
  ASSERT_TRUE(sim.Start({"--pty", path, "--drop-after", "2"}));
  ASSERT_EQ(sim.Banner().size(), 1u);
  EXPECT_EQ(sim.Banner()[0].rfind("pty /dev/pts/", 0), 0u) << sim.Banner()[0];
  const std::filesystem::path before = std::filesystem::read_symlink(path);
  SimClient port = SimClient::OpenPty(path);
  ASSERT_TRUE(port.IsOpen());
  port.Send("\x14^[*IDN?\nvolt?\n");
  EXPECT_EQ(port.ReadLine(2000), sim::kDefaultIdn);
  EXPECT_EQ(port.ReadLine(2000), "1.234");
  EXPECT_TRUE(port.WaitClosed(2000));
  EXPECT_NE(std::filesystem::read_symlink(path), before);
  SimClient again = SimClient::OpenPty(path);
  ASSERT_TRUE(again.IsOpen());
  again.Send("temp?\n");
  EXPECT_EQ(again.ReadLine(2000), "23.5");
  std::filesystem::remove_all(ports);  // the next port has nowhere to be linked
  again.Send("volt?\n");
  EXPECT_EQ(again.ReadLine(2000), "1.234");
  EXPECT_TRUE(again.WaitClosed(2000));
  EXPECT_EQ(sim.WaitExit(3000), 1);
  EXPECT_NE(sim.TranscriptText().find("-- pty could not be made again"), std::string::npos)
      << sim.TranscriptText();
}

TEST(SimProcess, StreamSendsMeasurementLinesAtItsRate) {
  Simulator sim(PARLEX2_SIM_PATH);
  ASSERT_TRUE(sim.Start({"--tcp", "127.0.42.9:10001", "--stream", "20"}));
  SimClient client = SimClient::ConnectTcp("127.0.42.9", 10001);
  EXPECT_EQ(client.ReadFor(200), "");
  client.Send(Lan("stream on\n"));
  EXPECT_EQ(client.ReadLine(2000), "ok");
  std::string lines = client.ReadFor(1000);
  int count = 0;
  for (std::size_t at = 0; (at = lines.find("stream,", at)) != std::string::npos; ++at) ++count;
  EXPECT_GE(count, 12);
  EXPECT_LE(count, 28);
  EXPECT_EQ(lines.rfind("stream,1,1.234\r\n", 0), 0u) << lines;
  client.Send(Lan("stream off\n"));
  client.ReadFor(200);
  EXPECT_EQ(client.ReadFor(300), "");
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

}  // namespace
}  // namespace parlex2::testing
