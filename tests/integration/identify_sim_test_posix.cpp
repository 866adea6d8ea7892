// Connect and identify against parlex2-sim over TCP: the exact bytes the
// instrument receives, what is stored in the link and the result shown. Also
// `parlex2 identify` and `parlex2 set-clock` run as programs.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/clock.h"
#include "connect/identify.h"
#include "link/instrument_link.h"
#include "link/lan.h"
#include "support/command_posix.h"
#include "support/recording_ui.h"
#include "support/simulator.h"
#include "support/temp_folder.h"

namespace parlex2 {
namespace {

// Over TCP every text goes out with its terminating zero byte.
std::string Lan(std::string_view text) { return std::string(text) + '\0'; }

const std::string kWakeBytes = Lan("\x14") + Lan("\x14") + Lan("^[");

struct Identified {
  bool result = false;
  InstrumentInfo info;
  std::vector<testing::ShownMessage> messages;
  std::string received;
};

Identified IdentifyAgainst(const std::string& address, std::vector<std::string> options) {
  Identified out;
  testing::Simulator sim(PARLEX2_SIM_PATH);
  options.insert(options.begin(), {"--tcp", address + ":10001"});
  std::string error;
  if (!sim.Start(options, &error)) {
    ADD_FAILURE() << "simulator did not start: " << error;
    return out;
  }
  testing::RecordingUi ui;
  InstrumentLink link;
  link.settings.interfaceKind = InterfaceKind::Lan;
  link.settings.ipAddress = address;
  out.result = ConnectAndIdentify(ui, link, true);
  link.Close();
  EXPECT_EQ(ui.waitDepth, 0);
  EXPECT_EQ(LanGetTimeout(), 5000u);
  EXPECT_TRUE(sim.Stop());
  out.info = link.info;
  out.messages = ui.messages;
  out.received = sim.Received();
  return out;
}

TEST(IdentifySim, KnownModelReadsItsIdentity) {
  const auto run = IdentifyAgainst("127.0.0.51", {});
  EXPECT_TRUE(run.result);
  EXPECT_EQ(run.received,
            kWakeBytes + Lan("*IDN?\n") + Lan("calstr?\n") + Lan("calver?\n") + Lan("version?\n"));
  EXPECT_EQ(run.info.modelNumber, 5);
  EXPECT_EQ(run.info.idnReply, "Veltmark,VXM66,10472,2.15");
  EXPECT_EQ(run.info.calstrReply, "14_SEP_2026,OVL,10472");
  EXPECT_EQ(run.info.calverReply, "02_OCT_2026");
  EXPECT_EQ(run.info.versionReply, "VXM66,STD,215,31,46,12");
  ASSERT_EQ(run.messages.size(), 1u);
  EXPECT_EQ(run.messages[0].caption, "Test Connection");
  EXPECT_EQ(run.messages[0].text, "The connection was successful\nVeltmark,VXM66,10472,2.15");
}

TEST(IdentifySim, BootcodeInstrumentIsAskedNothingMore) {
  const auto run = IdentifyAgainst("127.0.0.52", {"--mode", "bootcode"});
  EXPECT_TRUE(run.result);
  EXPECT_EQ(run.received, kWakeBytes + Lan("*IDN?\n"));
  EXPECT_EQ(run.info.modelNumber, 9998);
  EXPECT_TRUE(run.info.calstrReply.empty());
  ASSERT_EQ(run.messages.size(), 1u);
  EXPECT_EQ(run.messages[0].text, "The connection was successful\nBootcode Instrument");
}

TEST(IdentifySim, UnknownModelAndReplyWithoutComma) {
  auto run = IdentifyAgainst("127.0.0.53", {"--idn", "Veltmark,QQQ9,77,1.0"});
  EXPECT_TRUE(run.result);
  EXPECT_EQ(run.received, kWakeBytes + Lan("*IDN?\n"));
  EXPECT_EQ(run.info.modelNumber, 0);
  EXPECT_EQ(run.info.idnReply, "");
  ASSERT_EQ(run.messages.size(), 1u);
  EXPECT_EQ(run.messages[0].text, "The connection was successful\nUnknown Instrument");

  run = IdentifyAgainst("127.0.0.53", {"--idn", "JUST A LINE"});
  EXPECT_TRUE(run.result);
  EXPECT_EQ(run.received, kWakeBytes + Lan("*IDN?\n"));
  EXPECT_EQ(run.info.modelNumber, 0);
  EXPECT_EQ(run.info.idnReply, "");
  ASSERT_EQ(run.messages.size(), 1u);
  EXPECT_EQ(run.messages[0].text, "The connection was successful\nUnknown Instrument");
}

TEST(IdentifySim, SilentInstrumentIsAskedFiveTimes) {
  const auto run = IdentifyAgainst("127.0.0.54", {"--mode", "silent"});
  EXPECT_FALSE(run.result);
  std::string expected = kWakeBytes;
  for (int i = 0; i < 5; ++i) expected += Lan("*IDN?\n");
  EXPECT_EQ(run.received, expected);
  ASSERT_EQ(run.messages.size(), 1u);
  EXPECT_EQ(run.messages[0].text, "The connection failed");
}

using testing::RunCli;

TEST(IdentifySim, CommandLineIdentifyPrintsThePanel) {
  testing::Simulator sim(PARLEX2_SIM_PATH);
  ASSERT_TRUE(sim.Start({"--tcp", "127.0.0.55:10001", "--calstr", "12_MAR_2023,OVL"}));
  const auto run = RunCli("--lan 127.0.0.55 identify");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("Connection Info.\n\n  Interface:  LAN\n  Address:  127.0.0.55\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("  Model:  VXM66\n  Serial No:  10472\n  Type:  STD\n"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("    02 OCT 2026\n"), std::string::npos);
  // March 2023 is long past 18 months on any day this test runs.
  EXPECT_NE(run.out.find("WARNING:  >18 months since OVL Calibration  \n"), std::string::npos)
      << run.out;
  ASSERT_TRUE(sim.Stop());

  const auto nobody = RunCli("--lan 127.0.0.56 identify");  // nothing listens there
  EXPECT_EQ(nobody.status, 1);
  EXPECT_EQ(nobody.out, "No connection\n");
}

TEST(IdentifySim, CommandLineSetsTheClockAndSavesTheDefault) {
  testing::TempFolder folder("parlex2-connect");
  setenv("XDG_CONFIG_HOME", folder.Path().c_str(), 1);
  testing::Simulator sim(PARLEX2_SIM_PATH);
  ASSERT_TRUE(sim.Start({"--tcp", "127.0.0.57:10001"}));
  EXPECT_EQ(RunCli("--lan 127.0.0.57 save-default").status, 0);
  const LocalTime before = SystemClock().Now();
  EXPECT_EQ(RunCli("set-clock").status, 0);  // the saved default connection
  ASSERT_TRUE(sim.Stop());
  const std::string received = sim.Received();
  const std::size_t first = received.find("config,240,");
  ASSERT_NE(first, std::string::npos) << received;
  const auto commands = received.substr(first);
  for (const char* prefix :
       {"config,241,", "config,242,", "config,243,", "config,244,", "config,245,"}) {
    EXPECT_NE(commands.find(prefix), std::string::npos) << prefix;
  }
  char year[16];
  std::snprintf(year, sizeof year, "config,245,%02d\n", before.year % 100);
  EXPECT_NE(commands.find(year), std::string::npos) << commands;
  unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace parlex2
