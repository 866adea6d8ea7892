// parlex2-sim as a process: its endpoints, its fault options as the server
// applies them, its clean exit and its files. Each test listens on
// an address of its own so that suites can run side by side.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "sim/instrument.h"
#include "support/command_posix.h"
#include "support/simulator.h"
#include "support/temp_folder.h"

namespace parlex2::testing {
namespace {

using Clock = std::chrono::steady_clock;

const std::string kIdnLine = sim::kDefaultIdn;

// Over TCP the program follows every send with a zero byte.
std::string Lan(const std::string& command) { return command + '\0'; }

std::string Endpoint(const std::string& address) { return address + ":10001"; }

TEST(SimProcess, AnswersIdentificationOverTcpAndLeavesCompleteFilesOnSigterm) {
  Simulator sim(PARLEX2_SIM_PATH);
  std::string error;
  ASSERT_TRUE(sim.Start({"--tcp", Endpoint("127.0.42.1")}, &error)) << error;
  ASSERT_EQ(sim.Banner().size(), 1u);
  EXPECT_EQ(sim.Banner()[0], "tcp 127.0.42.1:10001");
  SimClient client = SimClient::ConnectTcp("127.0.42.1", 10001);
  ASSERT_TRUE(client.IsOpen());
  std::string sent = Lan("\x14") + Lan("\x14") + Lan("^[") + Lan("*IDN?\n");
  client.Send(sent);
  EXPECT_EQ(client.ReadLine(2000), kIdnLine);
  client.Send(Lan("calstr?\n"));
  EXPECT_EQ(client.ReadLine(2000), sim::kDefaultCalstr);
  client.Send(Lan("bin?4\n"));
  EXPECT_EQ(client.ReadFor(300), std::string("\x81\x20\x00\x0A\r\n", 6));
  ASSERT_TRUE(sim.Stop());
  EXPECT_EQ(sim.Received(), sent + Lan("calstr?\n") + Lan("bin?4\n"));
  EXPECT_EQ(sim.Sent(), kIdnLine + "\r\n" + sim::kDefaultCalstr + "\r\n" +
                            std::string("\x81\x20\x00\x0A\r\n", 6));
  EXPECT_NE(sim.TranscriptText().find("-- stopped"), std::string::npos);
  auto flash = sim.ReadFlash();
  ASSERT_TRUE(flash);
  EXPECT_TRUE(*flash == sim::Flash());
}

TEST(SimProcess, IdentityOptionsAreRepliedVerbatim) {
  Simulator sim(PARLEX2_SIM_PATH);
  ASSERT_TRUE(
      sim.Start({"--tcp", Endpoint("127.0.42.2"), "--idn", "Maker,J7B733,5,1", "--calstr",
                 "default_calibration", "--calver", "01_APR_2024", "--version", "J7B,A,100"}));
  SimClient client = SimClient::ConnectTcp("127.0.42.2", 10001);
  client.Send("*IDN?\ncalstr?\ncalver?\nversion?\n");
  EXPECT_EQ(client.ReadLine(2000), "Maker,J7B733,5,1");
  EXPECT_EQ(client.ReadLine(2000), "default_calibration");
  EXPECT_EQ(client.ReadLine(2000), "01_APR_2024");
  EXPECT_EQ(client.ReadLine(2000), "J7B,A,100");
}

TEST(SimProcess, ServesOneClientAtATimeAndAnyNumberInTurn) {
  Simulator sim(PARLEX2_SIM_PATH);
  ASSERT_TRUE(sim.Start({"--tcp", Endpoint("127.0.42.3")}));
  SimClient first = SimClient::ConnectTcp("127.0.42.3", 10001);
  SimClient second = SimClient::ConnectTcp("127.0.42.3", 10001);
  ASSERT_TRUE(first.IsOpen() && second.IsOpen());
  second.Send("volt?\n");
  EXPECT_EQ(second.ReadLine(300), std::nullopt);
  first.Send("temp?\n");
  EXPECT_EQ(first.ReadLine(2000), "23.5");
  first.Close();
  EXPECT_EQ(second.ReadLine(2000), "1.234");
  second.Close();
  for (int i = 0; i < 3; ++i) {
    SimClient next = SimClient::ConnectTcp("127.0.42.3", 10001);
    next.Send("curr?\n");
    EXPECT_EQ(next.ReadLine(2000), "-0.0125") << i;
  }
}

TEST(SimProcess, ServesAPseudoTerminalThroughASymbolicLink) {
  Simulator sim(PARLEX2_SIM_PATH);
  testing::TempFolder folder("parlex2-pty");
  std::string path = folder.File("com7");
  ASSERT_TRUE(sim.Start({"--pty", path, "--drop-after", "2"}));
  ASSERT_EQ(sim.Banner().size(), 1u);
  EXPECT_EQ(sim.Banner()[0].rfind("pty /dev/pts/", 0), 0u) << sim.Banner()[0];
  EXPECT_TRUE(std::filesystem::is_symlink(path));
  SimClient port = SimClient::OpenPty(path);
  ASSERT_TRUE(port.IsOpen());
  port.Send("\x14^[*IDN?\n");
  EXPECT_EQ(port.ReadLine(2000), kIdnLine);
  // The second line unplugs the port; the link then leads to a new one.
  std::string before = std::filesystem::read_symlink(path);
  port.Send("volt?\n");
  EXPECT_EQ(port.ReadLine(2000), "1.234");
  EXPECT_TRUE(port.WaitClosed(2000));
  EXPECT_NE(std::filesystem::read_symlink(path).string(), before);
  SimClient again = SimClient::OpenPty(path);
  ASSERT_TRUE(again.IsOpen());
  again.Send("temp?\n");
  EXPECT_EQ(again.ReadLine(2000), "23.5");
  ASSERT_TRUE(sim.Stop());
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(path)));
}

TEST(SimProcess, APseudoTerminalThatCannotBeMadeAgainEndsTheRun) {
  Simulator sim(PARLEX2_SIM_PATH);
  testing::TempFolder folder("parlex2-pty");
  const std::filesystem::path ports = folder.Path() / "ports";
  std::filesystem::create_directory(ports);
  const std::string path = (ports / "com7").string();
  ASSERT_TRUE(sim.Start({"--pty", path, "--drop-after", "1", "--delay", "200"}));
  SimClient port = SimClient::OpenPty(path);
  ASSERT_TRUE(port.IsOpen());
  port.Send("volt?\n");
  // The unplugged port's successor has nowhere to be linked.
  std::filesystem::remove_all(ports);
  EXPECT_EQ(port.ReadLine(2000), "1.234");
  EXPECT_TRUE(port.WaitClosed(2000));
  EXPECT_EQ(sim.WaitExit(3000), 1);  // not a loop spinning on the closed terminal
  EXPECT_NE(sim.TranscriptText().find("-- pty could not be made again"), std::string::npos)
      << sim.TranscriptText();
}

TEST(SimProcessFaults, DelayHoldsEveryReplyAndMuteAfterStopsAnsweringForGood) {
  Simulator sim(PARLEX2_SIM_PATH);
  ASSERT_TRUE(sim.Start({"--tcp", Endpoint("127.0.42.5"), "--delay", "300", "--mute-after", "2"}));
  SimClient client = SimClient::ConnectTcp("127.0.42.5", 10001);
  for (int i = 0; i < 2; ++i) {
    auto start = Clock::now();
    client.Send(Lan("volt?\n"));
    EXPECT_EQ(client.ReadLine(2000), "1.234");
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(290));
  }
  client.Send(Lan("*IDN?\n"));
  client.Close();
  client = SimClient::ConnectTcp("127.0.42.5", 10001);
  client.Send(Lan("*IDN?\n"));
  EXPECT_EQ(client.ReadFor(700), "");
  ASSERT_TRUE(sim.Stop());
  EXPECT_EQ(sim.Received(), Lan("volt?\n") + Lan("volt?\n") + Lan("*IDN?\n") + Lan("*IDN?\n"));
}

// The options reach the instrument: noise after each reply, the boot loader's
// "OK". (What each fault does is the instrument's own unit tests' business;
// --refuse-record shows in the upgrade's tests.)
TEST(SimProcessFaults, OkCaseAndNoiseOptionsReachTheInstrument) {
  Simulator sim(PARLEX2_SIM_PATH);
  ASSERT_TRUE(
      sim.Start({"--tcp", Endpoint("127.0.42.8"), "--ok-case", "upper", "--noise"}));
  SimClient client = SimClient::ConnectTcp("127.0.42.8", 10001);
  const std::string noise(sim::kNoise, sim::kNoiseLength);
  client.Send(Lan("*IDN?\n"));
  EXPECT_EQ(client.ReadFor(300), kIdnLine + "\r\n" + noise);
  client.Send(Lan("\x19"));
  EXPECT_EQ(client.ReadFor(300), std::string(sim::kBootBanner) + "\r\n" + noise);
  client.Send(Lan("C7D2z\n"));
  EXPECT_EQ(client.ReadLine(2000), "OK");
}

TEST(SimProcessFaults, StreamSendsMeasurementLinesAtItsRate) {
  Simulator sim(PARLEX2_SIM_PATH);
  ASSERT_TRUE(sim.Start({"--tcp", Endpoint("127.0.42.9"), "--stream", "20"}));
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

TEST(SimProcess, HelpNamesEveryOptionAndBadOptionsAreRefused) {
  const auto help = RunCommand(std::string(PARLEX2_SIM_PATH) + " --help");
  EXPECT_EQ(help.status, 0);
  for (const char* option :
       {"--tcp", "--pty", "--discovery", "--idn", "--calstr", "--calver", "--version", "--mode",
        "--transcript", "--flash", "--delay", "--refuse-record", "--drop-after", "--mute-after",
        "--ok-case", "--noise", "--stream"}) {
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  }
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
