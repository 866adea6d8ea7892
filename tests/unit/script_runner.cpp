// The script runner on simulated time: pacing, queries and their replies,
// stepping, stopping and resuming, stop-on-fail, send failures; the script's
// "#" commands, each run as a step or within a run; and the record a run
// leaves: tests named after the comment above them with their file lines,
// "=reply" reading what answered the script's last command, the status a run
// ends with, and Result > Save Test Report....
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "app/shell.h"
#include "script/script_commands.h"
#include "script/test_report.h"
#include "support/fake_shell.h"
#include "support/temp_folder.h"

namespace parlex2::testing {
namespace {

// Loads `lines` and runs them from the top until the run stops.
void RunScript(FakeShell& shell, const std::vector<std::string>& lines) {
  shell.Load(lines);
  shell.Press(IDC_RUN);
  shell.RunUntilStopped();
}

// Runs `lines` as single steps, handling posted commands after each.
void Step(FakeShell& shell, const std::vector<std::string>& lines) {
  shell.Load(lines);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    shell.Press(IDC_STEP);
    shell.Timer();
  }
}

// Each recorded test: name, file line, condition and verdict.
std::vector<std::string> TestsOf(const RunRecord& record) {
  std::vector<std::string> tests;
  for (const TestRecord& t : record.tests) {
    tests.push_back(t.name + " " + std::to_string(t.line) + " " + t.condition +
                    (t.passed ? " passed" : " failed: " + t.reason));
  }
  return tests;
}

// Records when each command reached the instrument, and may answer it.
struct SendLog {
  std::vector<std::pair<std::string, std::uint64_t>> sends;
  void Attach(FakeShell& shell, std::function<std::string(const std::string&)> reply = nullptr) {
    shell.peer->respond = [this, &shell, reply](MemoryPeer& peer, const std::string& bytes) {
      std::string command = bytes.substr(0, bytes.size() - 1);
      sends.emplace_back(command, shell.clock.TickMs());
      if (reply) peer.Queue(reply(command));
    };
  }
  std::uint64_t At(const std::string& command) const {
    for (const auto& [text, at] : sends)
      if (text == command) return at;
    ADD_FAILURE() << command << " was not sent";
    return 0;
  }
};

TEST(ScriptRunner, LinesArePacedByStepDelayAndTheSpeedCommands) {
  FakeShell shell;
  SendLog log;
  log.Attach(shell);
  RunScript(shell,
            {"\"a", "comment", "\"b", "#fast", "\"c", "\"d", "#slow", "\"e", "#normal", "\"f"});

  EXPECT_EQ(log.At("b") - log.At("a"), 500u);  // a comment line takes its StepDelay too
  EXPECT_EQ(log.At("c") - log.At("b"), 300u);  // #fast applies to the pause after itself
  EXPECT_EQ(log.At("d") - log.At("c"), 50u);
  EXPECT_EQ(log.At("e") - log.At("d"), 550u);  // 50 after d, 500 after #slow
  EXPECT_EQ(log.At("f") - log.At("e"), 750u);  // 500 after e, 250 after #normal

  // StepDelay survives the run: #fast at the end stays in force for the next.
  RunScript(shell, {"#fast", "\"g", "\"h"});
  RunScript(shell, {"\"i", "\"j"});
  EXPECT_EQ(log.At("j") - log.At("i"), 50u);
}

TEST(ScriptRunner, NextLineWaitsForAQuerysReplyOrTimeOutAndForAPause) {
  struct Case {
    const char* name;
    std::vector<std::string> lines;
    bool instrumentAnswers;
    std::uint64_t nextAfter;  // ms from the query's send to the next line's
    bool timeout;
  };
  const Case cases[] = {
      {"reply line in capitals, no answer", {"\"volt?", "#REPLY,10", "\"next"}, false, 10250, true},
      {"reply line below the limit", {"\"volt?", "#reply,0", "\"next"}, false, 1250, true},
      {"no reply line: five seconds", {"\"volt?", "\"next"}, false, 5250, true},
      {"reply line after a plain send", {"\"trigger", "#reply,2", "\"next"}, false, 2500, true},
      // 250 ms after the tick that saw the answer.
      {"answered", {"\"volt?", "#reply,10", "\"next"}, true, 251, false},
      {"blank after the question mark: not a query", {"\"volt? ", "\"next"}, false, 250, false},
      // A pause line waits its seconds on top of its own 250 ms.
      {"pause in capitals", {"\"a", "#PAUSE,3", "\"next"}, false, 3500, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeShell shell;
    SendLog log;
    log.Attach(shell, [&c](const std::string& cmd) {
      return c.instrumentAnswers && cmd.back() == '?' ? std::string("1.234\r\n") : std::string();
    });
    RunScript(shell, c.lines);
    const std::string query = c.lines[0].substr(1);
    EXPECT_EQ(log.At("next") - log.At(query), c.nextAfter);
    EXPECT_EQ(log.sends.size(), 2u);  // the reply line is never run on its own
    const std::string results = shell.ResultsText();
    EXPECT_EQ(results.find("TIMEOUT\r\n") != std::string::npos, c.timeout) << results;
    if (c.instrumentAnswers) {
      EXPECT_EQ(results, "> volt?\r\n1.234\r\n> next\r\n");
    }
  }
}

// Each line that comes while the run waits for output, even one of one
// character, moves the next line on to 250 ms after it: the lines of a
// query's reply, or output after a plain send that a reply line waits for.
TEST(ScriptRunner, OutputDuringAWaitMovesTheNextLineOn) {
  const std::vector<std::string> scripts[] = {{"\"dump?", "\"next"},
                                              {"\"trigger", "#reply,2", "\"next"}};
  for (const auto& lines : scripts) {
    SCOPED_TRACE(lines[0]);
    FakeShell shell;
    SendLog log;
    log.Attach(shell);
    shell.Load(lines);
    shell.Press(IDC_RUN);
    shell.RunFor(300);  // a reply line has begun its wait 250 ms after the send
    shell.peer->Queue("first\r\n");
    shell.RunFor(200);
    shell.peer->Queue("x\r\n");
    const std::uint64_t lastSeen = shell.clock.TickMs() + 1;
    shell.RunUntilStopped();
    EXPECT_EQ(log.At("next"), lastSeen + 250);
    EXPECT_EQ(shell.ResultsText(), "> " + lines[0].substr(1) + "\r\nfirst\r\nx\r\n> next\r\n");
  }
}

TEST(ScriptRunner, StepsRunOneLineEachAndIgnoreTheDueTime) {
  FakeShell shell;
  SendLog log;
  log.Attach(shell);
  shell.Load({"\"id?", "#pause,5", "\"b"});
  shell.Press(IDC_STEP);
  EXPECT_EQ(shell.state.scriptState, kScriptStep);
  shell.Timer();
  EXPECT_EQ(shell.state.scriptState, kScriptStopped);
  EXPECT_EQ(shell.ScriptSelection(), 1);
  EXPECT_EQ(shell.engine.record().status, RunStatus::Stopped);  // until the last line
  shell.RunFor(20000);  // stopped: nothing runs, and no TIMEOUT yet
  EXPECT_EQ(shell.ResultsText(), "> id?\r\n");

  shell.Press(IDC_STEP);
  shell.Timer();  // the pause: its delay has no effect in a step
  EXPECT_EQ(shell.ResultsText(), "> id?\r\nTIMEOUT\r\n");
  shell.Press(IDC_STEP);
  shell.Timer();
  EXPECT_EQ(log.sends.size(), 2u);
  EXPECT_EQ(shell.ScriptSelection(), -1);  // the end: the next Step starts again
  EXPECT_EQ(shell.state.scriptState, kScriptStopped);
  EXPECT_TRUE(shell.handled.empty());  // a step never posts a stop
  EXPECT_EQ(shell.engine.record().status, RunStatus::Passed);
}

TEST(ScriptRunner, StopAndResumeKeepTheCalculatorAndRestartFromTheTopResetsIt) {
  FakeShell shell;
  shell.Load({"=3", "#wait", "=enter", "=add", "\"done"});
  Calculator& calc = shell.engine.calculator();
  shell.Press(IDC_RUN);
  shell.RunUntilStopped();
  EXPECT_EQ(shell.ScriptSelection(), 2);
  EXPECT_EQ(shell.engine.lastStopReason(), StopReason::Wait);
  EXPECT_EQ(shell.ResultsText(), "! Press Close to abort script or Press Run to continue\r\n");
  shell.RunFor(1000);
  EXPECT_TRUE(shell.peer->written.empty());  // paused: no line runs after the stop

  shell.Press(IDC_RUN);  // continues from line 2 without a reset
  shell.RunUntilStopped();
  EXPECT_EQ(calc.calcStack.x, 6.0);
  EXPECT_EQ(shell.Sent(), std::vector<std::string>{"done"});
  EXPECT_EQ(shell.ScriptSelection(), -1);

  shell.Press(IDC_RUN);  // from the end: the first line, everything reset
  shell.RunUntilStopped();
  EXPECT_EQ(calc.calcStack.x, 3.0);
  EXPECT_EQ(calc.calcStack.y, 0.0);

  // A line chosen by the user while stopped: no reset.
  shell.SelectScriptLine(2);
  shell.Press(IDC_RUN);
  shell.RunUntilStopped();
  EXPECT_EQ(calc.calcStack.x, 6.0);

  // The Stop button pauses a run and its record; Run continues at the selected
  // line with the same record, which ends as the run does.
  shell.Load({"=2", "=1", "=test,hi", "\"a", "\"b", "=test,lo"});
  shell.Press(IDC_RUN);
  shell.RunFor(800);
  EXPECT_EQ(shell.engine.RecordForReport().status, RunStatus::Running);
  shell.Press(IDC_RUN);
  EXPECT_EQ(shell.state.scriptState, kScriptStopped);
  EXPECT_EQ(shell.ScriptSelection(), 4);
  EXPECT_EQ(shell.engine.RecordForReport().status, RunStatus::Stopped);
  shell.Press(IDC_RUN);
  shell.RunUntilStopped();
  EXPECT_EQ(shell.engine.record().status, RunStatus::Failed);
  EXPECT_EQ(shell.engine.record().tests.size(), 2u);
  EXPECT_EQ(shell.Sent(), (std::vector<std::string>{"done", "done", "a", "b"}));
}

TEST(ScriptRunner, SendFailureStopsTheRunWithTheNextLineSelected) {
  FakeShell shell;
  shell.peer->failWrites = true;
  shell.Load({"\"a", "\"b", "\"c"});
  shell.Press(IDC_RUN);
  shell.RunUntilStopped(5000);
  EXPECT_EQ(shell.state.scriptState, kScriptStopped);
  EXPECT_EQ(shell.ScriptSelection(), 1);
  EXPECT_EQ(shell.ResultsText(), "> aERROR SENDING THIS COMMAND\r\n");
  EXPECT_EQ(shell.engine.lastStopReason(), StopReason::SendFailed);
  EXPECT_EQ(shell.engine.record().status, RunStatus::SendFailed);

  shell.peer->failWrites = false;
  shell.Press(IDC_RUN);
  shell.RunUntilStopped();
  EXPECT_EQ(shell.Sent(), (std::vector<std::string>{"b", "c"}));
}

// A stop asked for by the last line, or by the user as the last line runs,
// and the end-of-script stop are one stop: the run must stay stopped, not
// toggle back and restart from the first line.
TEST(ScriptRunner, StopRequestedByTheLastLineLeavesTheRunStopped) {
  const std::pair<std::vector<std::string>, bool> cases[] = {
      // lines, the user's Stop
      {{"\"a", "#wait"}, false},
      {{"\"a", "=stop,onfail", "=10", "=11", "=test,hi"}, false},
      {{"\"a", "=10"}, true},
  };
  for (const auto& [lines, userStops] : cases) {
    SCOPED_TRACE(lines.back());
    FakeShell shell;
    shell.Load(lines);
    shell.Press(IDC_RUN);
    if (userStops) {
      shell.RunFor(250);  // the first line has run; the last is due at the next tick
      shell.clock.Advance(1);
      shell.engine.Tick();   // the last line runs and asks for the stop
      shell.Press(IDC_RUN);  // the user's Stop, handled before the posted stop
      shell.HandlePosted();
    }
    shell.RunUntilStopped(10000);
    shell.RunFor(3000);
    EXPECT_EQ(shell.state.scriptState, kScriptStopped);
    EXPECT_EQ(std::ranges::count(shell.handled, IDC_RUN, &PostedCommand::id), 1);
    EXPECT_EQ(shell.Sent(), std::vector<std::string>{"a"});
    EXPECT_EQ(shell.ScriptSelection(), -1);
  }
}

TEST(ScriptRunner, EmptyListStopsAtOnceAndLastLineQueryTimesOutOnTheNextRun) {
  FakeShell shell;
  shell.Load({});
  shell.Press(IDC_RUN);
  EXPECT_LE(shell.RunUntilStopped(), 1u);

  RunScript(shell, {"\"ok", "\"last?"});
  EXPECT_EQ(shell.ResultsText(), "> ok\r\n> last?\r\n");  // the run ended without waiting
  shell.Press(IDC_RUN);
  shell.Timer();
  EXPECT_EQ(shell.ResultsText(), "> ok\r\n> last?\r\nTIMEOUT\r\n> ok\r\n");
}

// #clear's posted command acts before the next line: only what follows shows.
TEST(ScriptRunner, SendLineSendsEverythingAfterTheQuoteUnchanged) {
  FakeShell shell;
  RunScript(shell, {"#echo,old", "#clear", "\"", "\" spaced \"", "\"^c", " \"indented is a comment",
                    "\tand this"});
  EXPECT_EQ(shell.peer->written, std::string("\n spaced \"\n\x03\n"));
  EXPECT_EQ(shell.ResultsText(), "> \r\n>  spaced \"\r\n> ^c\r\n");
}

TEST(ScriptRecord, TestsAreNamedAfterTheCommentAboveThemAndCarryTheirFileLines) {
  TempFolder folder;
  const std::string path = folder.Write("named.txt",
                                        "Header comment\r\n"       // 1
                                        "\r\n"                     // 2
                                        "#fast\r\n"                // 3
                                        "=1\n=2\n=test,hi\n"       // 4..6
                                        "  Supply voltage \t\r\n"  // 7
                                        "#echo,not a name\r\n"     // 8
                                        "\r\n\r\n"                 // 9, 10
                                        "=5\n=test,lo\n"           // 11, 12
                                        "# Load current\n"         // 13
                                        "=test,in\n"               // 14
                                        " \t \n"                   // 15: blank, no name
                                        "\"x\n=test,out\n");       // 16, 17
  FakeShell shell;
  ASSERT_TRUE(shell.engine.LoadScript(path));
  shell.state.scriptState = kScriptStopped;
  shell.Press(IDC_RUN);
  shell.RunUntilStopped();
  EXPECT_EQ(TestsOf(shell.engine.record()),
            (std::vector<std::string>{"Header comment 6 hi failed: 2 is above the upper limit 1",
                                      "Supply voltage 12 lo passed", "Load current 14 in passed",
                                      "Load current 17 out failed: 5 is outside 2 .. 1"}));
  EXPECT_EQ(shell.engine.record().script, path);

  // No comment above: "line N", the list's line when it was not loaded from a file.
  RunScript(shell, {"=1", "#beep", "=test,hi"});
  EXPECT_EQ(TestsOf(shell.engine.record()),
            std::vector<std::string>{"line 3 3 hi failed: 1 is above the upper limit 0"});
}

TEST(ScriptRecord, ReplyReadsTheLineThatAnsweredTheScriptsLastCommand) {
  FakeShell shell;
  shell.peer->respond = Answers({{"volt?\n", "+4.98765E+00\r\n"},
                                 {"curr?\n", "I=0.5 A\r\nOVERRANGE\r\n"},  // the last line counts
                                 {"bvolt?\n", "\x81'>;\r\n"}});  // 1.234 as a binary value
  shell.peer->Queue("9.9\r\n");  // before the run: answers none of its commands
  shell.RunFor(5);
  RunScript(shell, {"=reply", "\"volt?", "=reply", "=store,1", "\"curr?", "=reply", "\"quiet",
                    "#pause,1", "=reply", "\"bvolt?", "=reply", "=[1]"});

  const Calculator& calc = shell.engine.calculator();
  EXPECT_EQ(calc.calcStack.x, 4.98765);
  EXPECT_EQ(calc.calcStack.y, 1.234);  // the binary value, converted as the pane shows it
  EXPECT_EQ(calc.failCount, 3);
  const RunRecord& record = shell.engine.record();
  EXPECT_EQ(
      TestsOf(record),
      (std::vector<std::string>{"line 1 1 reply failed: no line received since the last command",
                                "line 6 6 reply failed: no number in the reply \"OVERRANGE\"",
                                "line 9 9 reply failed: no line received since the last command"}));
  for (const TestRecord& test : record.tests) EXPECT_TRUE(std::isnan(test.value));
  EXPECT_EQ(record.status, RunStatus::Failed);
}

TEST(ScriptRecord, StatusSaysHowTheRunEnded) {
  using enum RunStatus;
  struct Case {
    const char* what;
    std::vector<std::string> lines;
    RunStatus status;
    std::size_t tests;
    bool readFails = false;  // once the first command is sent; no reconnect
  };
  const Case cases[] = {
      {"passed", {"=2", "=1", "=test,hi"}, Passed, 1},
      {"failed, counted at the end", {"=1", "=2", "=test,hi", "#echo"}, Failed, 1},
      {"stopped at a failure", {"=stop,onfail", "=1", "=2", "=test,hi", "=test,hi"}, Failed, 1},
      {"paused at a #wait", {"=2", "=1", "=test,hi", "#wait", "\"x"}, Stopped, 1},
      {"a NaN passes no test but counts no failure", {"=5", "=-1", "=sqrt", "=test,hi"}, Failed, 1},
      {"no test at all", {"\"x"}, Passed, 0},
      // The window asks, the run's next send fails, and the record says why.
      {"read failed", {"\"volt?", "=2", "=1", "=test,hi", "\"x"}, ConnectionLost, 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeShell shell;
    shell.engine.instrument = InstrumentIdentity{"VXM66", "10472", "", "", "", "", ""};
    if (c.readFails) {
      shell.ui.answers = {MessageAnswer::No};
      shell.peer->respond = [](MemoryPeer& peer, const std::string&) { peer.broken = true; };
    }
    RunScript(shell, c.lines);
    const RunRecord record = shell.engine.RecordForReport();
    EXPECT_EQ(record.status, c.status);
    EXPECT_EQ(record.tests.size(), c.tests);
    EXPECT_TRUE(record.finished);
    EXPECT_GE(record.finishTickMs, record.startTickMs);
    ASSERT_TRUE(record.instrument);
    EXPECT_EQ(record.instrument->serialNumber, "10472");
  }
}

TEST(ShellTestReport, GreyedUntilATestIsRecordedThenSavedInTheChosenFormat) {
  TempFolder folder;
  FakeShell shell;
  shell.core.InitControls();
  shell.peer->respond = [](MemoryPeer& peer, const std::string&) { peer.Queue("ok\r\n"); };
  EXPECT_FALSE(shell.window.menuEnabled[ID_RESULT_SAVE_REPORT]);
  shell.Press(ID_RESULT_SAVE_REPORT);  // nothing to save: no dialog
  EXPECT_TRUE(shell.ui.saveDialogs.empty());
  RunScript(shell, {"Supply <check> & \"more\"", "=2", "=1", "\"id?", "=test,hi"});
  EXPECT_TRUE(shell.window.menuEnabled[ID_RESULT_SAVE_REPORT]);

  // The name's extension decides, otherwise the file type chosen (the first,
  // JUnit, as the fake dialog reports); the writer makes the folders.
  shell.ui.files = {folder.File("r.JSON"), folder.File("sub/folder/r")};
  shell.Press(ID_RESULT_SAVE_REPORT);
  const auto report = nlohmann::json::parse(ReadFileBytes(folder.File("r.JSON")));
  EXPECT_EQ(report["tests"][0]["name"], "Supply <check> & \"more\"");
  EXPECT_EQ(report["transcript"], "> id?\nok\n");
  shell.Press(ID_RESULT_SAVE_REPORT);
  EXPECT_EQ(ReadFileBytes(folder.File("sub/folder/r")),
            JUnitReport(shell.engine.RecordForReport()));
  EXPECT_TRUE(shell.ui.saveDialogs.back().confirmOverwrite);

  // Cancelled: nothing, and no message. Not writable: the message says so.
  shell.ui.files = {std::nullopt};
  shell.Press(ID_RESULT_SAVE_REPORT);
  EXPECT_TRUE(shell.ui.messages.empty());
  std::ofstream(folder.File("plain")) << "a file, not a folder";
  shell.ui.files = {folder.File("plain/r.xml")};
  shell.Press(ID_RESULT_SAVE_REPORT);
  ASSERT_EQ(shell.ui.messages.size(), 1u);
  EXPECT_EQ(shell.ui.messages[0].text.rfind(
                kReportNotWrittenMessage + folder.File("plain/r.xml") + ": ", 0),
            0u)
      << shell.ui.messages[0].text;

  // A new run greys the item again until it records a test.
  shell.Load({"#pause,1", "=1", "=2", "=test,hi"});
  shell.Press(IDC_RUN);
  shell.RunFor(100);
  EXPECT_FALSE(shell.window.menuEnabled[ID_RESULT_SAVE_REPORT]);
}

TEST(ScriptCommands, SecondsArgumentIsWholeSecondsFromOneTo500) {
  const std::pair<const char*, int> cases[] = {
      {"#pause", 1000},        {"#pause,3", 3000},
      {"#pause 3", 1000},      {"#pause,-5", 1000},
      {"#pause, +12s", 12000}, {"#pause 9,4", 4000},
      {"#pause,500", 500000},  {"#pause,99999999999", 500000},
  };
  for (const auto& [line, ms] : cases) EXPECT_EQ(ParseSecondsArgument(line), ms) << line;
}

TEST(ScriptCommands, TextCommandsWriteToTheResultsPane) {
  FakeShell shell;
  shell.clock.SetNow({.hour = 9, .minute = 5, .second = 3, .millisecond = 7});
  Step(shell, {"#echo", "#echo,", "#Echo,Hello, world ", "#time", "#Timestamp", "#time to check",
               "# check voltage", "#", "#wait,Check the probe", "#wait", "#wait,", "#beep",
               "#BEEP twice"});
  EXPECT_EQ(shell.ResultsText(),
            "\r\n\r\nHello, world \r\n"
            "time: 09:05:03:007\r\ntime: 09:05:03:007\r\ntime: 09:05:03:007\r\n"
            "Check the probe\r\n"
            "! Press Close to abort script or Press Run to continue\r\n"
            "! Press Close to abort script or Press Run to continue\r\n");
  EXPECT_TRUE(shell.handled.empty());  // a wait in a step only shows its text
  EXPECT_EQ(shell.beeps, 2);
}

TEST(ScriptCommands, BinconSetsTheSwitchThroughTheMenuCommand) {
  // The line, the switch before and after it, and whether it posts the command.
  const std::tuple<const char*, bool, bool, bool> cases[] = {
      {"#bincon,ON", false, true, true},   {"#bincon,on", true, true, true},
      {"#bincon,off", true, false, true},  {"#bincon,no", true, false, true},
      {"#bincon,", true, true, false},     {"#bincon,", false, false, false},
      {"#bincon", true, false, true},      {"#bincon", false, true, true},
      {"#bincon,Only", false, true, true},
  };
  for (const auto& [line, before, after, posts] : cases) {
    FakeShell shell;
    shell.state.convertBinary = before;
    Step(shell, {line});
    EXPECT_EQ(shell.state.convertBinary, after) << line << " from " << before;
    EXPECT_EQ(shell.handled.size(), posts ? 1u : 0u) << line;
  }
}

TEST(ScriptCommands, PrintWritesThePaneWithCrLfLines) {
  TempFolder folder("parlex2-print");
  const auto& dir = folder.Path();
  const auto file = dir / "results.txt";

  // A print replaces what the file held.
  std::ofstream(file) << "an earlier print, longer than this one";
  FakeShell shell;
  shell.AppendText("one\r\ntwo\n\r");
  Step(shell, {"#print," + file.string()});
  EXPECT_EQ(ReadFileBytes(file), "one\r\ntwo\r\n");

  // No name or an unwritable one: the message, with no line end after it.
  shell.ClearResults();
  Step(shell,
       {"#print,", "#print", "#print," + (dir / "missing" / "x.txt").string(), "#echo,next"});
  EXPECT_EQ(shell.ResultsText(),
            "!!Invalid file location in script!!!!Invalid file location in script!!"
            "!!Invalid file location in script!!next\r\n");
}

TEST(ScriptCalculator, StopOnFailPausesTheRunUntilCleartest) {
  FakeShell shell;
  RunScript(shell,
            {"=stop,onfail", "=10", "=11", "=test,hi", "\"one", "=drop", "=cleartest", "\"two"});
  EXPECT_EQ(shell.ScriptSelection(), 4);
  EXPECT_EQ(shell.engine.lastStopReason(), StopReason::TestFailed);

  // Resumed: a send line has no fail check, the next calculator line stops again.
  shell.Press(IDC_RUN);
  shell.RunUntilStopped();
  EXPECT_EQ(shell.ScriptSelection(), 6);
  EXPECT_EQ(shell.Sent(), std::vector<std::string>{"one"});
  shell.Press(IDC_RUN);  // cleartest lets it go on
  shell.RunUntilStopped();
  EXPECT_EQ(shell.Sent(), (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(shell.ScriptSelection(), -1);
}

}  // namespace
}  // namespace parlex2::testing
