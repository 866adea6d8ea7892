// The window follows the link: after the firmware upgrade (which closes,
// reopens and identifies the link itself), after a failed connect, and in the
// script panel's enabling as connection and script state change.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/script_shell.h"
#include "app/shell.h"
#include "common/product.h"
#include "connect/identify.h"
#include "support/fake_shell.h"
#include "support/upgrade_front_end.h"

namespace parlex2::testing {
namespace {

constexpr int kControls[] = {IDC_RESULTS,     IDC_INFO, IDC_COMMAND, IDC_SEND,
                             IDC_SCRIPT_LIST, IDC_RUN,  IDC_STEP,    IDC_CLOSE};
constexpr int kConnectedMenu[] = {ID_UPGRADE_FIRMWARE, ID_SET_DATE_TIME, ID_SCRIPT};

// A connected window whose instrument is now the simulator's.
struct UpgradingShell {
  explicit UpgradingShell(sim::InstrumentConfig config) : device(std::move(config)) {
    device.Attach(shell.link);
    shell.link.info.idnReply = "Veltmark,VXM66,10472,2.15";
    shell.window.title = ConnectedTitle(shell.link);
    shell.core.RunCommand(ID_CONNECTION_CHANGED, 0);
  }
  UpgradeResult Upgrade(const std::string& descriptor) {
    dir.Write("a.hex", HexFile(1, 1, 0));
    shell.ui.files.push_back(dir.Write("set.upg", descriptor));
    RecordingFrontEnd frontEnd(shell.link);
    UpgradeCommandContext context{shell.ui,    frontEnd,           shell.link,   shell.state,
                                  shell.clock, SystemFileFinder(), std::nullopt, false};
    const UpgradeResult result = RunUpgradeCommand(context);
    shell.core.FollowLink();
    return result;
  }
  FakeShell shell;
  SimulatedInstrument device;
  ScratchDir dir;
};

TEST(ShellFollowsLink, UpgradeWhoseIdentificationFailsLeavesTheWindowDisconnected) {
  sim::InstrumentConfig silent;
  silent.personality = sim::Personality::kSilent;
  UpgradingShell u(silent);
  u.shell.ui.answers = {MessageAnswer::No};  // "No instrument was detected..."
  EXPECT_EQ(u.Upgrade("TARGET,VXM66\nLOAD,0,a.hex\n").outcome, UpgradeOutcome::NoInstrument);
  FakeShell& shell = u.shell;
  EXPECT_EQ(shell.window.title, BaseTitle());
  for (int id : kConnectedMenu) EXPECT_FALSE(shell.window.menuEnabled[id]) << id;
  for (int id : kControls) EXPECT_FALSE(shell.window.enabled[id]) << id;
  EXPECT_EQ(shell.window.panel, (std::vector<InfoSpan>{{SpanKind::Plain, "No connection"}}));
  EXPECT_FALSE(shell.state.pollingEnabled);
  EXPECT_FALSE(shell.link.portOpen());  // the port is free again
  // A typed command no longer vanishes: there is nothing to type it into.
  shell.window.texts[IDC_COMMAND] = "volt?";
  shell.Press(IDC_SEND);
  EXPECT_EQ(shell.ResultsText(), "");
}

TEST(ShellFollowsLink, SuccessfulUpgradeShowsTheNewFirmwaresIdentity) {
  sim::InstrumentConfig upgraded;
  upgraded.idn = "Veltmark,VXM66,10472,2.16";
  UpgradingShell u(upgraded);
  EXPECT_EQ(u.Upgrade("TARGET,VXM66\nLOAD,0,a.hex\n").outcome, UpgradeOutcome::Succeeded);
  FakeShell& shell = u.shell;
  EXPECT_EQ(shell.window.title, BaseTitle() + "     LAN,VXM66,10472,2.16");
  for (int id : kConnectedMenu) EXPECT_TRUE(shell.window.menuEnabled[id]) << id;
  for (int id : kControls) EXPECT_TRUE(shell.window.enabled[id]) << id;
  EXPECT_TRUE(shell.state.pollingEnabled);
  EXPECT_TRUE(shell.link.portOpen());
  std::string panel;
  for (const InfoSpan& span : shell.window.panel) panel += span.text;
  EXPECT_NE(panel.find("Serial No:  10472"), std::string::npos) << panel;
}

// Connect's dialog and the reconnect after a read failure may both leave the
// port open when the instrument does not answer; the window then shows
// itself disconnected, so the port is closed.
TEST(ShellFollowsLink, FailedConnectOrReconnectFreesThePort) {
  FakeShell shell;  // a memory instrument that answers nothing
  shell.core.RunCommand(ID_CONFIGURE_CONNECTION, MARK_RECONNECT);
  EXPECT_FALSE(shell.link.info.connected);
  EXPECT_FALSE(shell.link.portOpen());

  shell.window.connectDialog = [&] {
    shell.link.info.connected = ConnectAndIdentify(shell.ui, shell.link, false);
  };
  shell.Press(ID_CONFIGURE_CONNECTION);
  EXPECT_FALSE(shell.link.info.connected);
  EXPECT_FALSE(shell.link.portOpen());
}

// The script panel's buttons follow both the connection and the script,
// whichever changed last: ID_CONNECTION_CHANGED while a script runs, the
// engine's stop after a disconnect, Close while running and the next script.
TEST(ShellFollowsLink, ScriptButtonsFollowConnectionAndScriptState) {
  FakeShell shell;
  shell.Load({"\"a", "\"b"});
  shell.Press(IDC_RUN);
  shell.core.RunCommand(ID_CONNECTION_CHANGED, 0);
  EXPECT_FALSE(shell.window.enabled[IDC_STEP]);
  EXPECT_FALSE(shell.window.enabled[IDC_CLOSE]);
  EXPECT_TRUE(shell.window.enabled[IDC_RUN]);

  shell.core.RunCommand(ID_DISCONNECT, 0);
  shell.core.RunCommand(IDC_RUN, MARK_STOP_IF_RUNNING);  // the engine's stop
  EXPECT_EQ(shell.state.scriptState, kScriptStopped);
  for (int id : kControls) EXPECT_FALSE(shell.window.enabled[id]) << id;

  FakeShell running;
  running.Load({"\"a"});
  running.Press(IDC_RUN);
  running.core.RunCommand(IDC_CLOSE, 0);
  EXPECT_EQ(running.window.texts[IDC_RUN], "Run");
  running.Load({"\"b"});
  running.Press(IDC_RUN);
  EXPECT_EQ(running.window.texts[IDC_RUN], "Stop");
}

TEST(ShellFollowsLink, ControlEnablingAsATableOfStates) {
  struct Case {
    bool connected;
    int scriptState;
    bool stepAndClose;
    bool others;
  };
  const Case cases[] = {
      {false, kScriptNone, false, false},    {false, kScriptStopped, false, false},
      {false, kScriptRunning, false, false}, {false, kScriptStep, false, false},
      {true, kScriptNone, true, true},       {true, kScriptStopped, true, true},
      {true, kScriptRunning, false, true},   {true, kScriptStep, true, true},
  };
  for (const Case& c : cases) {
    for (int id : kControls) {
      const bool expected = id == IDC_STEP || id == IDC_CLOSE ? c.stepAndClose : c.others;
      EXPECT_EQ(ControlEnabled(id, c.connected, c.scriptState), expected)
          << id << " connected " << c.connected << " state " << c.scriptState;
    }
  }
}

}  // namespace
}  // namespace parlex2::testing
