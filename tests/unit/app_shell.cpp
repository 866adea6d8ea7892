// The main window's logic on a recording window: layout, title, the connect
// and disconnect sequences, how the window follows the link (after a failed
// connect and after the firmware upgrade), the terminal's commands and the
// command marks.
#include <gtest/gtest.h>

#include "app/shell.h"
#include "app/shell_layout.h"
#include "common/product.h"
#include "connect/identify.h"
#include "support/fake_shell.h"
#include "support/temp_folder.h"

namespace parlex2::testing {
namespace {

constexpr int kControls[] = {IDC_RESULTS,     IDC_INFO, IDC_COMMAND, IDC_SEND,
                             IDC_SCRIPT_LIST, IDC_RUN,  IDC_STEP,    IDC_CLOSE};
constexpr int kConnectedMenu[] = {ID_UPGRADE_FIRMWARE, ID_SET_DATE_TIME, ID_SCRIPT};

// The window shows the link as it is: title, the Instrument items and Script,
// the controls, the panel, polling, and the port (freed when not connected).
void ExpectWindowShowsLink(FakeShell& shell, bool connected, const std::string& title) {
  SCOPED_TRACE(connected ? "connected" : "not connected");
  EXPECT_EQ(shell.link.info.connected, connected);
  EXPECT_EQ(shell.window.title, title);
  for (int id : kConnectedMenu) EXPECT_EQ(shell.window.menuEnabled[id], connected) << id;
  for (int id : kControls) EXPECT_EQ(shell.window.enabled[id], connected) << id;
  ASSERT_FALSE(shell.window.panel.empty());
  const InfoSpan first = connected ? InfoSpan{SpanKind::Heading, "Connection Info.\n\n"}
                                   : InfoSpan{SpanKind::Plain, "No connection"};
  EXPECT_EQ(shell.window.panel.front(), first);
  EXPECT_EQ(shell.window.panel.size() == 1, !connected);
  EXPECT_EQ(shell.state.pollingEnabled, connected);
  EXPECT_EQ(shell.link.portOpen(), connected);
}

// The window's own anchoring (the pane and Send at half size, kept over a
// minimise) is checked on the real window; here the rest of the layout.
TEST(ShellLayout, ControlsFollowTheWindowAndTheScriptPanel) {
  auto place = [](WindowSize outer, WindowSize client, int scriptState) {
    std::map<int, ControlRect> rects;
    for (const auto& p : LayoutControls(outer, client, {808, 608}, scriptState))
      rects[p.id] = p.rect;
    return rects;
  };
  auto full = place({808, 608}, {800, 554}, kScriptNone);
  EXPECT_EQ(full.size(), 8u);
  EXPECT_EQ(full[IDC_RESULTS], (ControlRect{6, 6, 648, 514}));
  EXPECT_EQ(full[IDC_INFO], (ControlRect{800 - 138 - 6, 6, 138, 514}));
  // At half the reference size the panel keeps its width 6 pixels from the
  // right edge and the command box narrows by the change.
  auto half = place({404, 304}, {396, 250}, kScriptNone);
  EXPECT_EQ(half[IDC_INFO], (ControlRect{396 - 138 - 6, 6, 138, 514 - 304}));
  EXPECT_EQ(half[IDC_COMMAND], (ControlRect{6, 250 - 30, 706 - 404, 24}));
  // With a script open the pane and panel are 130 pixels shorter and the
  // three buttons stand above one another at the right.
  auto script = place({808, 608}, {800, 554}, kScriptStopped);
  EXPECT_EQ(script[IDC_RESULTS].height, 384);
  EXPECT_EQ(script[IDC_INFO].height, 384);
  EXPECT_EQ(script[IDC_SCRIPT_LIST], (ControlRect{6, 554 - 152 - 6, 706, 152}));
  EXPECT_EQ(script[IDC_CLOSE], (ControlRect{719, 554 - 24 - 82, 75, 24}));
  EXPECT_EQ(script[IDC_STEP].y, 554 - 24 - 108);
  EXPECT_EQ(script[IDC_RUN].y, 554 - 24 - 134);

  EXPECT_FALSE(ControlShown(IDC_RUN, kScriptNone));
  EXPECT_FALSE(ControlShown(IDC_SEND, kScriptRunning));
  EXPECT_TRUE(ControlShown(IDC_SCRIPT_LIST, kScriptStep));
  EXPECT_TRUE(ControlShown(IDC_INFO, kScriptStopped));
  EXPECT_FALSE(ControlShown(18004, kScriptNone));
}

TEST(ShellTitle, NameAndVersionUpToItsFirstBlankThenInterfaceAndIdentity) {
  auto title = [](InterfaceKind kind, std::int32_t model, const char* idn) {
    InstrumentLink link;
    link.settings.interfaceKind = kind;
    link.info.modelNumber = model;
    link.info.idnReply = idn;
    return ConnectedTitle(link);
  };
  const std::string base = "Parlex2 v1_4     ";
  EXPECT_EQ(title(InterfaceKind::Usb, 9998, "BOOT   :    32 32 32 32"),
            base + "USB,Bootcode Instrument");
  // A reply with no comma names no model: an older boot-code reply left in
  // place must not be shown as the instrument.
  EXPECT_EQ(title(InterfaceKind::Serial, 0, "BOOT   :    32 32 32 32"),
            base + "SER,Unknown Connection");
}

// Connect's dialog disconnects before it shows. An instrument that does not
// answer (through the dialog or the reconnect after a read failure) leaves
// the port open after the attempt; the window frees it as it shows itself
// disconnected, the title as it was.
TEST(ShellConnect, DialogPathDisconnectsFirstAndTheOutcomeSetsTitleMenuAndControls) {
  FakeShell shell;  // an instrument that answers nothing, at first
  shell.window.title = "before";
  shell.window.connectDialog = [&] {
    EXPECT_FALSE(shell.state.pollingEnabled);
    EXPECT_FALSE(shell.link.portOpen());
    EXPECT_FALSE(shell.window.menuEnabled[ID_SET_DATE_TIME]);
    shell.link.info.connected = ConnectAndIdentify(shell.ui, shell.link, false);
  };
  shell.Press(ID_CONFIGURE_CONNECTION);
  EXPECT_EQ(shell.window.calls, std::vector<std::string>{"connect dialog"});
  shell.HandlePosted();  // ID_CONNECTION_CHANGED
  ExpectWindowShowsLink(shell, false, "before");
  EXPECT_FALSE(shell.engine.instrument);
  shell.core.RunCommand(ID_CONFIGURE_CONNECTION, MARK_RECONNECT);
  ExpectWindowShowsLink(shell, false, "before");

  // An instrument that answers, past a partial line left in the link.
  shell.AnswerIdentification();
  shell.lineBuffer.Clear();
  shell.peer->Queue("partial");
  shell.Press(ID_CONFIGURE_CONNECTION);
  shell.HandlePosted();
  ExpectWindowShowsLink(shell, true, BaseTitle() + "     LAN,ZQM44,4711,2.01");
  ASSERT_TRUE(shell.engine.instrument);  // what the next run's record names
  EXPECT_EQ(shell.engine.instrument->model + "," + shell.engine.instrument->serialNumber,
            "ZQM44,4711");
  EXPECT_EQ(shell.window.calls.back(), "focus");
}

// A failed read shows the complete lines before it, never the partial one,
// and asks once: no more polling after No, the title as it was. Yes posts the
// reconnect, which connects again without the dialog, with the settings the
// link holds.
TEST(ShellConnect, ReadFailureAsksAndYesReconnectsWithTheLinksSettings) {
  FakeShell shell;
  shell.window.title = "last connected";
  shell.peer->Queue("last words\npartial");
  shell.peer->broken = true;
  shell.ui.answers = {MessageAnswer::No};
  shell.Timer();
  EXPECT_EQ(shell.ResultsText(), "last words\r\n");
  ASSERT_EQ(shell.ui.messages.size(), 1u);
  EXPECT_EQ(shell.ui.messages[0].text, kReadFailedQuestion);
  EXPECT_EQ(shell.ui.messages[0].buttons, MessageButtons::YesNo);
  ExpectWindowShowsLink(shell, false, "last connected");
  shell.Timer();
  EXPECT_EQ(shell.ui.messages.size(), 1u);

  FakeShell again;
  again.AnswerIdentification();
  again.peer->broken = true;
  again.core.Timer();
  again.peer->broken = false;
  again.HandlePosted();
  std::vector<std::pair<int, int>> handled;  // id and mark
  for (const PostedCommand& c : again.handled) handled.emplace_back(c.id, c.mark);
  EXPECT_EQ(handled, (std::vector<std::pair<int, int>>{{ID_DISCONNECT, MARK_READ_FAILED},
                                                       {ID_CONFIGURE_CONNECTION, MARK_RECONNECT},
                                                       {ID_CONNECTION_CHANGED, 0}}));
  ExpectWindowShowsLink(again, true, BaseTitle() + "     LAN,ZQM44,4711,2.01");
  EXPECT_TRUE(again.window.calls.empty() || again.window.calls.front() != "connect dialog");
}

// The "Comms Failed" message box keeps timer messages coming; the poller must
// not find the broken link meanwhile and add the read-failure question.
TEST(ShellTerminal, SendEchoesFailureDisconnectsAndSaveAsksForATextFile) {
  FakeShell shell;
  shell.Send("volt?");
  shell.Send("");  // nothing sent
  EXPECT_EQ(shell.peer->written, "volt?\n");
  EXPECT_EQ(shell.ResultsText(), "> volt?\r\n");
  shell.HandlePosted();
  EXPECT_EQ(shell.window.calls.back(), "focus+select");

  shell.peer->failWrites = true;
  shell.peer->broken = true;
  shell.ui.whileShown = [&] {
    shell.ui.whileShown = nullptr;
    shell.RunFor(50);
  };
  shell.Send("lost");
  shell.HandlePosted();
  ASSERT_EQ(shell.ui.messages.size(), 1u);
  EXPECT_EQ(shell.ui.messages[0].text, kCommsFailedMessage);
  EXPECT_FALSE(shell.link.info.connected);
  EXPECT_EQ(shell.ResultsText(), "> volt?\r\n");
  shell.Send("lost");  // not connected: nothing at all
  EXPECT_EQ(shell.ui.messages.size(), 1u);

  // Save to File asks for a text file, and a cancel is said; what the file
  // then holds is checked on the real window.
  shell.Press(ID_RESULT_SAVE);  // cancelled
  ASSERT_EQ(shell.ui.messages.size(), 2u);
  EXPECT_EQ(shell.ui.messages[1].text, kNoSaveFileMessage);
  ASSERT_EQ(shell.ui.saveDialogs.size(), 1u);
  EXPECT_EQ(shell.ui.saveDialogs[0].defaultExtension, "txt");
  EXPECT_EQ(shell.ui.saveDialogs[0].filterPattern, "*.txt");
  EXPECT_TRUE(shell.ui.saveDialogs[0].confirmOverwrite);
}

TEST(ShellTerminal, HistoryKeepsTheLast50AndRecallTakesEchoLinesOnly) {
  CommandHistory history;
  EXPECT_FALSE(history.Previous());
  EXPECT_FALSE(history.Next());
  for (int i = 1; i <= 51; ++i) history.Store(std::string("c").append(std::to_string(i)));
  EXPECT_EQ(history.Slot(0), "c2");
  EXPECT_EQ(history.Slot(49), "c51");
  EXPECT_EQ(history.Previous(), "c50");
  EXPECT_EQ(history.Next(), "c51");
  EXPECT_EQ(history.Next(), "c2");  // past the newest to the oldest

  const std::string pane = "> a\r\nreply\r\n>\r\n> " + std::string(300, 'x');
  EXPECT_EQ(RecallFromLine(pane, 0), "a");
  EXPECT_EQ(RecallFromLine(pane, 5), "");
  EXPECT_EQ(RecallFromLine(pane, 12), "");  // a lone '>'
  EXPECT_EQ(RecallFromLine(pane, 15), std::string(256, 'x'));
  EXPECT_EQ(RecallFromLine(pane, pane.size()), "");
  EXPECT_EQ(RecallFromLine("12:00:00.000 > b\r\n", 0), "b");
  EXPECT_EQ(RecallFromLine("12:00:00.000 1.0\r\n", 0), "");
}

// Configure > Time Stamps: received lines and echoed commands begin with the
// time each was complete; the switch, on or off, is kept in the settings file
// and read at the next start. (A script's echoes:
// CliSend.TraceHoldsTheRepliesAndVerboseShowsItBesideTheLog.)
TEST(ShellTerminal, TimeStampsBeginLinesAndEchoesAndAreKept) {
  TempFolder folder("parlex2-stamps");
  IniFileStore store(folder.File("Parlexer.ini"));
  FakeShell shell;
  shell.core.UseSettings(store);
  EXPECT_FALSE(shell.window.menuChecked[ID_TIME_STAMPS]);
  shell.Press(ID_TIME_STAMPS);
  EXPECT_TRUE(shell.window.menuChecked[ID_TIME_STAMPS]);
  LocalTime now{.hour = 9, .minute = 5, .second = 7, .millisecond = 42};
  shell.clock.SetNow(now);
  shell.Send("volt?");
  shell.peer->Queue("1.234\r\n\r\npart");
  shell.Timer();
  now.millisecond = 43;  // the time the line was complete
  shell.clock.SetNow(now);
  shell.peer->Queue("ial\n");
  shell.Timer();
  EXPECT_EQ(shell.ResultsText(),
            "09:05:07.042 > volt?\r\n09:05:07.042 1.234\r\n09:05:07.043 partial\r\n");

  FakeShell again;
  again.core.UseSettings(store);
  EXPECT_TRUE(again.state.timeStamps);
  EXPECT_TRUE(again.window.menuChecked[ID_TIME_STAMPS]);
  again.Press(ID_TIME_STAMPS);  // off, and kept off
  EXPECT_FALSE(LoadTimeStamps(store));
  EXPECT_FALSE(again.window.menuChecked[ID_TIME_STAMPS]);
  again.Send("volt?");
  again.peer->Queue("1.234\n");
  again.Timer();
  EXPECT_EQ(again.ResultsText(), "> volt?\r\n1.234\r\n");
}

// While the upgrade holds the link, nothing of the window's reaches it: not
// the poll, a running script, Connect's dialog nor FollowLink. (Set
// Date/Time, a typed command, the disconnect and the reconnect:
// UpgradeSimTest.TheShellKeepsOffTheLinkWhileTheWorkerUpgrades.)
TEST(ShellLease, ALeasedLinkIsLeftAloneUntilTheLeaseEnds) {
  FakeShell shell;
  shell.Load({"\"volt?"});
  shell.state.scriptState = kScriptRunning;
  shell.peer->Queue("late reply\r\n");
  LinkLease lease = shell.link.Lease();
  ASSERT_TRUE(lease);
  shell.Press(ID_CONFIGURE_CONNECTION);
  shell.core.FollowLink();
  shell.RunFor(50);
  EXPECT_EQ(shell.peer->written, "");
  EXPECT_EQ(shell.ResultsText(), "");
  EXPECT_TRUE(shell.link.portOpen());
  EXPECT_TRUE(shell.window.calls.empty());  // no Connect dialog

  lease.Release();
  shell.RunFor(50);
  EXPECT_EQ(shell.Sent(), std::vector<std::string>{"volt?"});
  EXPECT_NE(shell.ResultsText().find("late reply"), std::string::npos);

  // The firmware upgrade closes, reopens and identifies the link itself; the
  // window then shows the link as the upgrade left it, and frees a port left
  // open without an instrument (one identified: the end-to-end upgrade test).
  shell.link.info.connected = false;  // the port open, nothing identified
  shell.core.FollowLink();
  ExpectWindowShowsLink(shell, false, BaseTitle());
}

// A button's click carries the button's handle where a posted command has its
// mark: the Run button toggles, the engine's posted stop only stops. The
// script buttons follow the connection and the script, whichever changed last.
// Script is ignored while a script runs; Close keeps the list.
TEST(ShellCommands, MarksAreToldApartFromAButtonsHandle) {
  FakeShell shell;
  TempFolder folder("parlex2-panel");
  shell.ui.files.push_back(folder.Write("s.txt", "\"a\n\"b\n"));
  shell.Press(ID_SCRIPT);
  EXPECT_EQ(shell.state.scriptState, kScriptStopped);
  EXPECT_FALSE(shell.window.shown[IDC_COMMAND]);
  shell.Press(IDC_RUN);
  EXPECT_EQ(shell.state.scriptState, kScriptRunning);
  EXPECT_EQ(shell.window.texts[IDC_RUN], "Stop");
  shell.Press(ID_SCRIPT);
  EXPECT_EQ(shell.ui.openDialogs.size(), 1u);
  shell.core.RunCommand(ID_CONNECTION_CHANGED, 0);
  EXPECT_FALSE(shell.window.enabled[IDC_STEP]);
  EXPECT_FALSE(shell.window.enabled[IDC_CLOSE]);
  EXPECT_TRUE(shell.window.enabled[IDC_RUN]);
  shell.core.RunCommand(IDC_RUN, MARK_STOP_IF_RUNNING);
  EXPECT_EQ(shell.state.scriptState, kScriptStopped);
  EXPECT_EQ(shell.window.texts[IDC_RUN], "Run");
  EXPECT_TRUE(shell.window.enabled[IDC_CLOSE]);
  shell.core.RunCommand(IDC_RUN, MARK_STOP_IF_RUNNING);  // a second stop stays a stop
  EXPECT_EQ(shell.state.scriptState, kScriptStopped);

  // Close while running, then the next script.
  shell.Press(IDC_RUN);
  shell.Press(IDC_CLOSE);
  EXPECT_EQ(shell.state.scriptState, kScriptNone);
  EXPECT_EQ(shell.window.texts[IDC_RUN], "Run");
  EXPECT_TRUE(shell.window.shown[IDC_COMMAND]);
  EXPECT_EQ(shell.ScriptLineCount(), 2);
  shell.Load({"\"b"});
  shell.Press(IDC_RUN);
  EXPECT_EQ(shell.window.texts[IDC_RUN], "Stop");
  // The engine's stop after a disconnect leaves every control off.
  shell.core.RunCommand(ID_DISCONNECT, 0);
  shell.core.RunCommand(IDC_RUN, MARK_STOP_IF_RUNNING);
  EXPECT_EQ(shell.state.scriptState, kScriptStopped);
  for (int id : kControls) EXPECT_FALSE(shell.window.enabled[id]) << id;
  EXPECT_FALSE(shell.core.Command(ID_ABOUT, 0));  // the window's own
}

}  // namespace
}  // namespace parlex2::testing
