// The firmware upgrade against parlex2-sim: how `parlex2 upgrade` refuses,
// and one whole upgrade in process as the window runs it, from firmware files
// made by srec_cat from random data (extended linear address records
// included), the simulator's flash compared with what the files hold. The
// main-hex route over the pseudo-terminal is the examples' test.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <random>
#include <thread>

#include "app/shell.h"
#include "common/command_ids.h"
#include "common/shell_state.h"
#include "link/instrument_link.h"
#include "support/command_posix.h"
#include "support/fake_shell.h"
#include "support/recording_ui.h"
#include "support/simulator.h"
#include "support/upgrade_front_end.h"
#include "support/upgrade_support.h"
#include "upgrade/upgrade_command.h"

namespace parlex2 {
namespace {

using testing::CommandRun;
using testing::FlashAfter;
using testing::ReadFileBytes;
using testing::RunCommand;
using testing::Simulator;
using testing::TempFolder;

// Writes `size` random bytes and has srec_cat make an Intel HEX file of them
// at `offset` (above 64 KiB it writes extended linear address records).
std::string MakeHex(const TempFolder& dir, const std::string& name, std::size_t size,
                    std::uint32_t offset, std::uint32_t seed, bool crlf = false) {
  std::mt19937 random(seed);
  std::string bytes;
  for (std::size_t i = 0; i < size; ++i) bytes.push_back(static_cast<char>(random()));
  const std::string bin = dir.Write(name + ".bin", bytes);
  const std::string hex = dir.Prefix() + name;
  const auto run =
      RunCommand("srec_cat '" + bin + "' -binary -offset " + std::to_string(offset) + " -o '" +
                 hex + "' -intel" + (crlf ? " -line-termination=crlf" : "") + " 2>&1");
  EXPECT_EQ(run.status, 0) << "srec_cat (Debian package srecord): " << run.out;
  return hex;
}

class UpgradeSimTest : public ::testing::Test {
 protected:
  // Starts the simulator on its own loopback address with `options`.
  void Start(const std::string& address, std::vector<std::string> options = {}) {
    address_ = address;
    options.insert(options.begin(), {"--tcp", address + ":10001"});
    std::string error;
    ASSERT_TRUE(sim_.Start(options, &error)) << error;
  }
  // parlex2 upgrade over the LAN, its standard output and error together.
  CommandRun Upgrade(const std::string& arguments, const std::string& input = "") const {
    std::string command =
        std::string(PARLEX2_PATH) + " --lan " + address_ + " upgrade " + arguments + " 2>&1";
    return RunCommand(input.empty() ? command + " </dev/null"
                                    : "printf '" + input + "' | " + command);
  }

  Simulator sim_{PARLEX2_SIM_PATH};
  TempFolder dir_;
  std::string address_;
};

// Refusals end with status 3 and their message, whichever check makes them
// (each check's own messages are the upgrade command's unit tests').
TEST_F(UpgradeSimTest, EveryRefusalHasItsMessageAndStatus) {
  Start("127.0.11.7");
  MakeHex(dir_, "main.hex", 200, 0, 13);
  struct Case {
    std::string descriptor;
    std::string input;
    std::string message;
  };
  const Case cases[] = {
      {"TARGET,VXM66\nLOAD,0,missing.hex\n", "y\\n", "The upgrade cannot be accepted"},
      {"TARGET,VXM66\nLOAD,0,main.hex\n", "n\\n", "Accept the proposed operation? [y/N]"},
      {"TARGET,VXM66\nWARNING,Mains power needed\nLOAD,0,main.hex\n", "",
       "Firmware Warning: Mains power needed"},
  };
  for (const Case& c : cases) {
    const CommandRun run = Upgrade("'" + dir_.Write("set.upg", c.descriptor) + "'", c.input);
    EXPECT_EQ(run.status, 3) << c.descriptor << run.out;
    EXPECT_NE(run.out.find(c.message), std::string::npos) << c.descriptor << run.out;
  }
  EXPECT_EQ(Upgrade("").status, 2);
  EXPECT_EQ(Upgrade("'" + dir_.Prefix() + "none.upg'").status, 2);
  EXPECT_EQ(Upgrade("'" + dir_.Prefix() + "'").status, 2);
  // Listing only: sector 3 is only programmed over, so not offered for erasing.
  const std::string overOnly =
      dir_.Write("set.upg", "TARGET,VXM66\nLOAD,0,main.hex\nOVER,3,main.hex\n");
  const CommandRun list = Upgrade("--list '" + overOnly + "'");
  EXPECT_EQ(list.status, 0) << list.out;
  EXPECT_NE(list.out.find("Erase Sectors: 0,\n"), std::string::npos) << list.out;
  ASSERT_TRUE(sim_.Stop());
  EXPECT_EQ(sim_.ReadFlash(), sim::Flash{});
  // Nothing but identification reached the instrument.
  EXPECT_EQ(sim_.Received().find('\x19'), std::string::npos);
}

// In process, as the window runs it: the worker upgrades on its own thread
// while the shell's timer and the commands posted to the window go on. The
// lease keeps every one of them off the link (ThreadSanitizer sees any that
// is not). (The link opened again after the restart and handed back to the
// window is the upgrade command's unit tests' and the end-to-end test's.)
class WindowlessHost final : public BufferedShellHost {
 public:
  explicit WindowlessHost(InstrumentLink& link) : link_(link) {}
  void Beep() override {}
  bool SendTypedCommand(std::string_view text) override {
    return parlex2::SendTypedCommand(link_, text);
  }
  UserInterface& Ui() override { return ui; }
  testing::RecordingUi ui;

 private:
  InstrumentLink& link_;
};

// The one whole upgrade against the simulator, from a descriptor as it comes
// from a bench: written on Windows (CR LF lines, names in another case than
// on disk), files above 64 KiB, an OVER-only sector and an entry for other
// serial numbers.
TEST_F(UpgradeSimTest, TheShellKeepsOffTheLinkWhileTheWorkerUpgrades) {
  Start("127.0.11.10", {"--idn", "Veltmark,VXM66,150,2.15", "--ok-case", "upper"});
  const std::string main = MakeHex(dir_, "main.hex", 3000, 0x10000, 1);
  const std::string dsp = MakeHex(dir_, "dsp.hex", 1200, 0x28000, 2, true);
  const std::string patch = MakeHex(dir_, "patch.hex", 300, 0x20000, 7);
  MakeHex(dir_, "old.hex", 300, 0x10000, 8);
  EXPECT_NE(ReadFileBytes(main).find(":02000004"), std::string::npos)
      << "no extended linear address record";
  const std::string set =
      dir_.Write("set.upg",
                 "TARGET,VXM66\r\nLOAD,0,MAIN.HEX\r\nLOAD,2,Dsp.hex\r\nOVER,3,patch.hex\r\n"
                 "SERIAL,1,300,0\r\nLOAD,0,old.hex\r\n");
  InstrumentLink link;
  link.settings.interfaceKind = InterfaceKind::Lan;
  link.settings.ipAddress = address_;
  WindowlessHost host(link);
  testing::RecordingWindow window;
  Shell shell(link, host, window);
  shell.RunCommand(ID_CONFIGURE_CONNECTION, MARK_RECONNECT);
  RunPostedCommands(shell, host);
  ASSERT_TRUE(shell.connected());
  host.AddScriptLine("temp?");
  shell.state().scriptState = kScriptStopped;
  window.texts[IDC_COMMAND] = "volt?";

  testing::RecordingFrontEnd frontEnd(link);
  // Everything that reaches the link from the window, over and over.
  const int commands[][2] = {{ID_SET_DATE_TIME, 0},
                             {IDC_SEND, 0},
                             {IDC_RUN, 0},
                             {ID_DISCONNECT, MARK_READ_FAILED},
                             {ID_CONFIGURE_CONNECTION, MARK_RECONNECT},
                             {IDC_RUN, MARK_STOP_IF_RUNNING}};
  std::size_t turns = 0;
  frontEnd.whileRunning = [&] {
    const auto& [id, mark] = commands[turns++ % std::size(commands)];
    host.PostCommand(id, mark);
    RunTimerMessage(shell, host);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
  UpgradeCommandContext context{host.ui,       frontEnd,           link, shell.state(),
                                SystemClock(), SystemFileFinder(), set};
  EXPECT_EQ(RunUpgradeCommand(context).outcome, UpgradeOutcome::Succeeded);
  EXPECT_GT(turns, 10u);
  host.PostCommand(IDC_RUN, MARK_STOP_IF_RUNNING);  // the script the turns started
  RunPostedCommands(shell, host);
  EXPECT_TRUE(host.ui.messages.empty());  // not even the read-failure question
  EXPECT_EQ(shell.state().scriptState, kScriptStopped);
  EXPECT_TRUE(shell.state().pollingEnabled);

  link.Close();
  // old.hex is not written: serial 150 is not 300 or more.
  const auto expected = FlashAfter(
      {{0, 1, ReadFileBytes(main)}, {2, 1, ReadFileBytes(dsp)}, {3, 0, ReadFileBytes(patch)}});
  ASSERT_TRUE(expected);
  // The simulator wrote its flash at the boot loader's restart; an interrupt
  // then leaves it as it was.
  EXPECT_EQ(sim_.ReadFlash(), expected);
  ASSERT_TRUE(sim_.Stop(SIGINT));
  EXPECT_EQ(sim_.ReadFlash(), expected);
  // Nothing of the window's reached the instrument while the worker ran.
  const std::string received = sim_.Received();
  EXPECT_EQ(received.find("config,"), std::string::npos);
  EXPECT_EQ(received.find("temp?"), std::string::npos);
  EXPECT_EQ(received.find("volt?"), std::string::npos);
}

}  // namespace
}  // namespace parlex2
