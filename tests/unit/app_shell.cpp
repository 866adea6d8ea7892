// The main window's logic on a recording window: layout, title, the connect
// and disconnect sequences, the terminal's commands and the command marks.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/shell.h"
#include "app/shell_layout.h"
#include "common/product.h"
#include "connect/identify.h"
#include "support/fake_shell.h"
#include "support/temp_folder.h"

namespace parlex2::testing {
namespace {

ControlRect At(int x, int y, int w, int h) { return {x, y, w, h}; }

TEST(ShellLayout, ControlsFollowTheWindowAndTheScriptPanel) {
  const WindowSize reference{808, 608};
  auto place = [&](WindowSize outer, WindowSize client, int scriptState) {
    std::map<int, ControlRect> rects;
    for (const auto& p : LayoutControls(outer, client, reference, scriptState))
      rects[p.id] = p.rect;
    return rects;
  };

  // At the reference size (client 800 x 554) the design rectangles hold.
  auto full = place({808, 608}, {800, 554}, kScriptNone);
  EXPECT_EQ(full.size(), 8u);
  EXPECT_EQ(full[IDC_RESULTS], At(6, 6, 648, 514));
  EXPECT_EQ(full[IDC_INFO], At(800 - 138 - 6, 6, 138, 514));
  EXPECT_EQ(full[IDC_COMMAND], At(6, 554 - 24 - 6, 706, 24));
  EXPECT_EQ(full[IDC_SEND], At(800 - 75 - 6, 554 - 24 - 6, 75, 24));

  // Half the reference size: the pane narrows and shortens by the change, the
  // panel keeps its width 6 pixels from the right edge.
  auto half = place({404, 304}, {396, 250}, kScriptNone);
  EXPECT_EQ(half[IDC_RESULTS], At(6, 6, 648 - 404, 514 - 304));
  EXPECT_EQ(half[IDC_INFO], At(396 - 138 - 6, 6, 138, 514 - 304));
  EXPECT_EQ(half[IDC_COMMAND], At(6, 250 - 30, 706 - 404, 24));

  // With a script open the pane and panel are 130 pixels shorter and the
  // three buttons stand above one another at the right.
  auto script = place({808, 608}, {800, 554}, kScriptStopped);
  EXPECT_EQ(script[IDC_RESULTS].height, 384);
  EXPECT_EQ(script[IDC_INFO].height, 384);
  EXPECT_EQ(script[IDC_SCRIPT_LIST], At(6, 554 - 152 - 6, 706, 152));
  EXPECT_EQ(script[IDC_CLOSE], At(719, 554 - 24 - 82, 75, 24));
  EXPECT_EQ(script[IDC_STEP].y, 554 - 24 - 108);
  EXPECT_EQ(script[IDC_RUN].y, 554 - 24 - 134);

  EXPECT_TRUE(ControlShown(IDC_COMMAND, kScriptNone));
  EXPECT_FALSE(ControlShown(IDC_RUN, kScriptNone));
  EXPECT_FALSE(ControlShown(IDC_SEND, kScriptRunning));
  EXPECT_TRUE(ControlShown(IDC_SCRIPT_LIST, kScriptStep));
  EXPECT_TRUE(ControlShown(IDC_INFO, kScriptStopped));
  EXPECT_FALSE(ControlShown(18004, kScriptNone));
}

TEST(ShellTitle, InterfaceAndIdentitySuffix) {
  InstrumentLink link;
  const std::string base = BaseTitle() + "     ";
  link.settings.interfaceKind = InterfaceKind::Lan;
  link.info.idnReply = "MAKER,MODEL,123,1.0";
  link.info.modelNumber = 7;
  EXPECT_EQ(ConnectedTitle(link), base + "LAN,MODEL,123,1.0");

  link.settings.interfaceKind = InterfaceKind::Usb;
  link.info.modelNumber = 9998;
  link.info.idnReply = "BOOT   :    32 32 32 32";
  EXPECT_EQ(ConnectedTitle(link), base + "USB,Bootcode Instrument");

  link.settings.interfaceKind = InterfaceKind::Serial;
  link.info.modelNumber = 0;
  link.info.idnReply.clear();
  EXPECT_EQ(ConnectedTitle(link), base + "SER,Unknown Connection");
  // A reply with no comma names no model: an older boot-code reply left in
  // place must not be shown as the instrument.
  link.info.idnReply = "BOOT   :    32 32 32 32";
  EXPECT_EQ(ConnectedTitle(link), base + "SER,Unknown Connection");
}

// An instrument on the memory peer that answers the identification.
void AnswerIdentification(FakeShell& shell) {
  shell.peer->respond = Answers({{"*IDN?\n", "OVL,ZQM44,4711,2.01\n"},
                                 {"calstr?\n", "12_MAR_2023,x\n"},
                                 {"calver?\n", "01_APR_2024\n"},
                                 {"version?\n", "v,T,1,2,3,4\n"}});
}

TEST(ShellConnect, DialogPathDisconnectsFirstAndTheOutcomeSetsTitleMenuAndControls) {
  FakeShell shell;
  AnswerIdentification(shell);
  shell.window.title = "before";
  shell.state.pollingEnabled = true;
  // Cancelled dialog: everything stays disconnected and the title as it was.
  shell.Press(ID_CONFIGURE_CONNECTION);
  EXPECT_EQ(shell.window.calls, std::vector<std::string>{"connect dialog"});
  EXPECT_FALSE(shell.link.portOpen());
  EXPECT_FALSE(shell.state.pollingEnabled);
  EXPECT_FALSE(shell.window.menuEnabled[ID_SET_DATE_TIME]);
  EXPECT_FALSE(shell.window.menuEnabled[ID_UPGRADE_FIRMWARE]);
  shell.HandlePosted();  // ID_CONNECTION_CHANGED
  EXPECT_FALSE(shell.window.enabled[IDC_COMMAND]);
  EXPECT_FALSE(shell.window.enabled[IDC_CLOSE]);
  EXPECT_EQ(shell.window.title, "before");
  EXPECT_EQ(shell.window.panel, (std::vector<InfoSpan>{{SpanKind::Plain, "No connection"}}));
  EXPECT_FALSE(shell.engine.instrument);

  // A dialog that connects: the link identified, then the sequence's end.
  shell.window.connectDialog = [&] {
    shell.link.info.connected = ConnectAndIdentify(shell.ui, shell.link, false);
  };
  shell.lineBuffer.Clear();
  shell.peer->Queue("partial");
  shell.Press(ID_CONFIGURE_CONNECTION);
  EXPECT_TRUE(shell.link.info.connected);
  EXPECT_TRUE(shell.state.pollingEnabled);
  EXPECT_TRUE(shell.window.menuEnabled[ID_SET_DATE_TIME]);
  EXPECT_EQ(shell.window.title, BaseTitle() + "     LAN,ZQM44,4711,2.01");
  EXPECT_EQ(shell.window.panel.front(), (InfoSpan{SpanKind::Heading, "Connection Info.\n\n"}));
  ASSERT_TRUE(shell.engine.instrument);  // what the next run's record names
  EXPECT_EQ(shell.engine.instrument->model + "," + shell.engine.instrument->serialNumber,
            "ZQM44,4711");
  shell.HandlePosted();
  for (int id : {IDC_RESULTS, IDC_INFO, IDC_COMMAND, IDC_SEND, IDC_SCRIPT_LIST, IDC_RUN, IDC_STEP,
                 IDC_CLOSE}) {
    EXPECT_TRUE(shell.window.enabled[id]) << id;
  }
  EXPECT_EQ(shell.window.calls.back(), "focus");
}

TEST(ShellConnect, ReadFailureAsksAndYesReconnectsWithTheLinksSettings) {
  FakeShell shell;
  AnswerIdentification(shell);
  shell.peer->Queue("last words\n");
  shell.peer->broken = true;
  shell.ui.answers = {MessageAnswer::No};
  shell.Timer();  // the poll shows the line, fails, and the disconnect asks
  EXPECT_EQ(shell.ResultsText(), "last words\r\n");
  ASSERT_EQ(shell.ui.messages.size(), 1u);
  EXPECT_EQ(shell.ui.messages[0].text, kReadFailedQuestion);
  EXPECT_EQ(shell.ui.messages[0].buttons, MessageButtons::YesNo);
  EXPECT_FALSE(shell.link.info.connected);
  EXPECT_FALSE(shell.link.portOpen());
  shell.Timer();  // no more polling once disconnected
  EXPECT_EQ(shell.ui.messages.size(), 1u);

  // Yes: ID_CONFIGURE_CONNECTION with mark 1 connects again without the
  // dialog, with the settings the link holds.
  FakeShell again;
  AnswerIdentification(again);
  again.peer->broken = true;
  again.core.Timer();
  again.peer->broken = false;
  again.HandlePosted();
  ASSERT_EQ(again.handled.size(), 3u);
  EXPECT_EQ(again.handled[0].id, ID_DISCONNECT);
  EXPECT_EQ(again.handled[1].id, ID_CONFIGURE_CONNECTION);
  EXPECT_EQ(again.handled[1].mark, MARK_RECONNECT);
  EXPECT_EQ(again.handled[2].id, ID_CONNECTION_CHANGED);
  EXPECT_TRUE(again.link.info.connected);
  EXPECT_TRUE(again.state.pollingEnabled);
  EXPECT_TRUE(again.window.enabled[IDC_SEND]);
  EXPECT_TRUE(again.window.calls.empty() || again.window.calls.front() != "connect dialog");
  EXPECT_EQ(again.window.title, BaseTitle() + "     LAN,ZQM44,4711,2.01");
}

TEST(ShellTerminal, SendEchoesStoresAndFailureDisconnects) {
  FakeShell shell;
  shell.window.texts[IDC_COMMAND] = "volt?";
  shell.Press(IDC_SEND);
  shell.window.texts[IDC_COMMAND] = "^c";
  shell.Press(IDC_SEND);
  EXPECT_EQ(shell.peer->written, "volt?\n\x03\n");
  EXPECT_EQ(shell.ResultsText(), "> volt?\r\n> ^c\r\n");
  shell.HandlePosted();
  EXPECT_EQ(shell.window.calls.back(), "focus+select");

  // Up shows the one before the last sent; Down goes round to the oldest.
  shell.Press(ID_HISTORY_PREV);
  EXPECT_EQ(shell.window.texts[IDC_COMMAND], "volt?");
  shell.Press(ID_HISTORY_PREV);
  EXPECT_EQ(shell.window.texts[IDC_COMMAND], "^c");
  shell.Press(ID_HISTORY_NEXT);
  EXPECT_EQ(shell.window.texts[IDC_COMMAND], "volt?");

  // A click on an echo line recalls it; on a reply line nothing changes.
  shell.AppendText("1.234\r\n");
  shell.window.caretLineStart = 0;
  shell.Press(ID_RECALL_LINE);
  EXPECT_EQ(shell.window.texts[IDC_COMMAND], "volt?");
  shell.window.caretLineStart = shell.ResultsText().find("1.234");
  shell.window.texts[IDC_COMMAND] = "kept";
  shell.Press(ID_RECALL_LINE);
  EXPECT_EQ(shell.window.texts[IDC_COMMAND], "kept");

  // Empty text: nothing sent. A failed send: the message, then disconnected.
  shell.window.texts[IDC_COMMAND] = "";
  shell.Press(IDC_SEND);
  EXPECT_EQ(shell.peer->written, "volt?\n\x03\n");
  shell.window.texts[IDC_COMMAND] = "lost";
  shell.peer->failWrites = true;
  shell.Press(IDC_SEND);
  ASSERT_EQ(shell.ui.messages.size(), 1u);
  EXPECT_EQ(shell.ui.messages[0].text, kCommsFailedMessage);
  EXPECT_FALSE(shell.link.info.connected);
  EXPECT_EQ(shell.ResultsText().find("lost"), std::string::npos);
  shell.Press(IDC_SEND);  // not connected: nothing at all
  EXPECT_EQ(shell.ui.messages.size(), 1u);
}

// The "Comms Failed" message box keeps timer messages coming; the poller must
// not find the broken link meanwhile and add the read-failure question.
TEST(ShellTerminal, SendFailureAsksNothingMoreWhileItsMessageIsShown) {
  FakeShell shell;
  shell.peer->failWrites = true;
  shell.peer->broken = true;
  shell.ui.whileShown = [&] {
    shell.ui.whileShown = nullptr;
    shell.RunFor(50);
  };
  shell.window.texts[IDC_COMMAND] = "volt?";
  shell.Press(IDC_SEND);
  shell.HandlePosted();
  ASSERT_EQ(shell.ui.messages.size(), 1u);
  EXPECT_EQ(shell.ui.messages[0].text, kCommsFailedMessage);
  EXPECT_FALSE(shell.link.info.connected);
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

// Configure > Time Stamps: received lines and echoed commands (typed and from
// a script) begin with the time each was complete; a click on a stamped echo
// still recalls its command; the switch is kept in the settings file.
TEST(ShellTerminal, TimeStampsBeginLinesAndEchoesAndAreKept) {
  TempFolder folder("parlex2-stamps");
  IniFileStore store(folder.File("Parlexer.ini"));
  {
    FakeShell shell;
    shell.core.UseSettings(store);
    EXPECT_FALSE(shell.window.menuChecked[ID_TIME_STAMPS]);
    shell.Press(ID_TIME_STAMPS);
    EXPECT_TRUE(shell.window.menuChecked[ID_TIME_STAMPS]);
    LocalTime now{.hour = 9, .minute = 5, .second = 7, .millisecond = 42};
    shell.clock.SetNow(now);
    shell.window.texts[IDC_COMMAND] = "volt?";
    shell.Press(IDC_SEND);
    shell.peer->Queue("1.234\r\n\r\npart");
    shell.Timer();
    now.millisecond = 43;  // the time the line was complete
    shell.clock.SetNow(now);
    shell.peer->Queue("ial\n");
    shell.Timer();
    shell.Load({"\"curr?"});
    shell.Press(IDC_STEP);
    shell.Timer();
    EXPECT_EQ(shell.ResultsText(),
              "09:05:07.042 > volt?\r\n09:05:07.042 1.234\r\n09:05:07.043 partial\r\n"
              "09:05:07.043 > curr?\r\n");
    shell.window.caretLineStart = 0;
    shell.Press(ID_RECALL_LINE);
    EXPECT_EQ(shell.window.texts[IDC_COMMAND], "volt?");
  }
  FakeShell again;
  again.core.UseSettings(store);
  EXPECT_TRUE(again.state.timeStamps);
  EXPECT_TRUE(again.window.menuChecked[ID_TIME_STAMPS]);
  again.Press(ID_TIME_STAMPS);
  EXPECT_FALSE(LoadTimeStamps(store));
  again.window.texts[IDC_COMMAND] = "volt?";
  again.Press(IDC_SEND);
  again.peer->Queue("1.234\n");
  again.Timer();
  EXPECT_EQ(again.ResultsText(), "> volt?\r\n1.234\r\n");
}

TEST(ShellTerminal, SaveAndClearAndConvertBinary) {
  FakeShell shell;
  shell.AppendText("> a\r\n1.0\r\n\r\n");
  shell.Press(ID_RESULT_SAVE);  // cancelled
  ASSERT_EQ(shell.ui.messages.size(), 1u);
  EXPECT_EQ(shell.ui.messages[0].text, kNoSaveFileMessage);
  ASSERT_EQ(shell.ui.saveDialogs.size(), 1u);
  EXPECT_EQ(shell.ui.saveDialogs[0].defaultExtension, "txt");
  EXPECT_EQ(shell.ui.saveDialogs[0].filterPattern, "*.txt");
  EXPECT_TRUE(shell.ui.saveDialogs[0].confirmOverwrite);

  TempFolder folder("parlex2-shell");
  const auto& dir = folder.Path();
  const std::string path = (dir / "out.txt").string();
  shell.ui.files.push_back(path);
  shell.Press(ID_RESULT_SAVE);
#ifdef _WIN32
  EXPECT_EQ(ReadFileBytes(path), "> a\r\n1.0\r\n\r\n");
#else
  EXPECT_EQ(ReadFileBytes(path), "> a\n1.0\n\n");
#endif
  std::filesystem::remove_all(dir);
  EXPECT_FALSE(WriteResultsFile((dir / "missing" / "x.txt").string(), "x"));

  shell.Press(ID_RESULT_CLEAR);
  EXPECT_EQ(shell.ResultsText(), "");
  shell.Press(ID_CONVERT_BINARY);
  EXPECT_FALSE(shell.state.convertBinary);
  EXPECT_FALSE(shell.window.menuChecked[ID_CONVERT_BINARY]);
  shell.Press(ID_CONVERT_BINARY);
  EXPECT_TRUE(shell.window.menuChecked[ID_CONVERT_BINARY]);
}

// Under a stream faster than the pane, each timer message reads a batch in
// step with what the pane holds, and every line arrives in order.
TEST(ShellTimer, PollBatchesGrowWithThePane) {
  EXPECT_EQ(PollByteLimit(0), kPollByteLimitMin);
  EXPECT_EQ(PollByteLimit(16 * 100000), 100000u);
  EXPECT_EQ(PollByteLimit(std::size_t{1} << 40), kPollByteLimitMax);

  FakeShell shell;
  std::string sent;
  for (int i = 0; i < 100000; ++i) sent += "stream," + std::to_string(i) + ",1.234\r\n";
  shell.peer->Queue(sent);
  while (!shell.peer->pending.empty()) shell.Timer();
  ASSERT_GE(shell.appendSizes.size(), 3u);
  EXPECT_LE(shell.appendSizes.front(), kPollByteLimitMin);
  EXPECT_GT(shell.appendSizes.back(), kPollByteLimitMin);  // the pane has grown
  EXPECT_EQ(shell.ResultsText(), sent);
}

// A button's click carries the button's handle where a posted command has its
// mark: the Run button toggles, the engine's posted stop only stops.
// While the upgrade holds the link, nothing of the window's reaches it: not
// the poll, a running script, Set Date/Time, a typed command, nor the connect
// commands (the read-failure question included).
TEST(ShellLease, ALeasedLinkIsLeftAloneUntilTheLeaseEnds) {
  FakeShell shell;
  shell.Load({"\"volt?"});
  shell.state.scriptState = kScriptRunning;
  shell.window.texts[IDC_COMMAND] = "temp?";
  shell.peer->Queue("late reply\r\n");
  LinkLease lease = shell.link.Lease();
  ASSERT_TRUE(lease);
  for (const auto& [id, mark] : {std::pair{ID_SET_DATE_TIME, 0}, std::pair{IDC_SEND, 0},
                                 std::pair{ID_DISCONNECT, int{MARK_READ_FAILED}},
                                 std::pair{ID_CONFIGURE_CONNECTION, int{MARK_RECONNECT}},
                                 std::pair{ID_CONFIGURE_CONNECTION, 0}}) {
    shell.core.RunCommand(id, mark);
  }
  shell.core.FollowLink();
  shell.RunFor(50);
  EXPECT_EQ(shell.peer->written, "");
  EXPECT_EQ(shell.ResultsText(), "");
  EXPECT_TRUE(shell.link.portOpen());
  EXPECT_TRUE(shell.ui.messages.empty());
  EXPECT_TRUE(shell.window.calls.empty());  // no Connect dialog

  lease.Release();
  shell.RunFor(50);
  EXPECT_EQ(shell.Sent(), std::vector<std::string>{"volt?"});
  EXPECT_NE(shell.ResultsText().find("late reply"), std::string::npos);
}

TEST(ShellCommands, MarksAreToldApartFromAButtonsHandle) {
  FakeShell shell;
  shell.Load({"\"a", "\"b"});
  shell.Press(IDC_RUN);
  EXPECT_EQ(shell.state.scriptState, kScriptRunning);
  EXPECT_EQ(shell.window.texts[IDC_RUN], "Stop");
  EXPECT_FALSE(shell.window.enabled[IDC_STEP]);
  shell.core.RunCommand(IDC_RUN, MARK_STOP_IF_RUNNING);
  EXPECT_EQ(shell.state.scriptState, kScriptStopped);
  EXPECT_EQ(shell.window.texts[IDC_RUN], "Run");
  EXPECT_TRUE(shell.window.enabled[IDC_CLOSE]);
  shell.core.RunCommand(IDC_RUN, MARK_STOP_IF_RUNNING);  // a second stop stays a stop
  EXPECT_EQ(shell.state.scriptState, kScriptStopped);

  // A control's handle is no reconnect mark: the dialog path runs.
  shell.core.Command(ID_CONFIGURE_CONNECTION, shell.window.controlHandle);
  EXPECT_EQ(shell.window.calls.back(), "connect dialog");
  EXPECT_FALSE(shell.core.Command(ID_ABOUT, 0));  // the window's own
}

TEST(ShellCommands, ScriptPanelSwitchesAndCloses) {
  FakeShell shell;
  TempFolder folder("parlex2-panel");
  const auto& dir = folder.Path();
  const std::string path = (dir / "s.txt").string();
  std::ofstream(path) << "\"volt?\n#pause\n";
  shell.ui.files.push_back(path);
  shell.Press(ID_SCRIPT);
  EXPECT_EQ(shell.state.scriptState, kScriptStopped);
  EXPECT_EQ(shell.ScriptLineCount(), 2);
  EXPECT_FALSE(shell.window.shown[IDC_COMMAND]);
  EXPECT_TRUE(shell.window.shown[IDC_RUN]);
  EXPECT_EQ(shell.window.rects[IDC_RESULTS].height, 384);

  shell.Press(IDC_RUN);
  shell.Press(ID_SCRIPT);  // ignored while running
  EXPECT_EQ(shell.ui.openDialogs.size(), 1u);
  shell.Press(IDC_RUN);
  shell.Press(IDC_CLOSE);
  EXPECT_EQ(shell.state.scriptState, kScriptNone);
  EXPECT_TRUE(shell.window.shown[IDC_SEND]);
  EXPECT_FALSE(shell.window.shown[IDC_SCRIPT_LIST]);
  EXPECT_EQ(shell.window.rects[IDC_RESULTS].height, 514);
  EXPECT_EQ(shell.ScriptLineCount(), 2);  // the list keeps its lines
}

}  // namespace
}  // namespace parlex2::testing
