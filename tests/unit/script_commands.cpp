// The script's "#" commands, each run as a step or within a run.
#include "script/script_commands.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/fake_shell.h"
#include "support/temp_folder.h"

namespace parlex2::testing {
namespace {

// Runs `lines` as single steps, handling posted commands after each.
void Step(FakeShell& shell, const std::vector<std::string>& lines) {
  shell.Load(lines);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    shell.Press(IDC_STEP);
    shell.Timer();
  }
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

TEST(ScriptCommands, ReplyStandingAloneWaitsForOutput) {
  FakeShell shell;
  shell.Load({"\"trigger", "#reply,2", "\"next"});
  shell.Press(IDC_RUN);
  shell.RunUntilStopped();
  EXPECT_EQ(shell.ResultsText(), "> trigger\r\nTIMEOUT\r\n> next\r\n");

  // Output that begins after the wait has started ends it 250 ms later.
  shell.ClearResults();
  shell.Press(IDC_RUN);
  shell.RunFor(300);  // trigger at once, #reply 250 ms later
  shell.peer->Queue("done\n");
  const std::uint64_t seen = shell.clock.TickMs() + 1;
  shell.RunUntilStopped();
  EXPECT_EQ(shell.ResultsText(), "> trigger\r\ndone\r\n> next\r\n");
  EXPECT_EQ(shell.clock.TickMs(), seen + 250);
}

TEST(ScriptCommands, TextCommandsWriteToTheResultsPane) {
  FakeShell shell;
  shell.clock.SetNow({.hour = 9, .minute = 5, .second = 3, .millisecond = 7});
  Step(shell, {"#echo", "#echo,", "#Echo,Hello, world ", "#time", "#Timestamp", "#time to check",
               "# check voltage", "#", "#wait,Check the probe", "#wait", "#wait,"});
  EXPECT_EQ(shell.ResultsText(),
            "\r\n\r\nHello, world \r\n"
            "time: 09:05:03:007\r\ntime: 09:05:03:007\r\ntime: 09:05:03:007\r\n"
            "Check the probe\r\n"
            "! Press Close to abort script or Press Run to continue\r\n"
            "! Press Close to abort script or Press Run to continue\r\n");
  EXPECT_TRUE(shell.handled.empty());  // a wait in a step only shows its text
}

TEST(ScriptCommands, WaitInARunPausesWithTheNextLineSelected) {
  FakeShell shell;
  shell.Load({"#wait,Check the probe", "\"a"});
  shell.Press(IDC_RUN);
  shell.RunUntilStopped();
  EXPECT_EQ(shell.ScriptSelection(), 1);
  EXPECT_EQ(shell.engine.lastStopReason(), StopReason::Wait);
  shell.Press(IDC_CLOSE);
  EXPECT_EQ(shell.state.scriptState, kScriptNone);
  shell.RunFor(1000);
  EXPECT_TRUE(shell.peer->written.empty());
}

TEST(ScriptCommands, BeepClearAndSpeeds) {
  FakeShell shell;
  shell.AppendText("old\r\n");
  Step(shell, {"#beep", "#BEEP twice", "#clear", "#slow"});
  EXPECT_EQ(shell.beeps, 2);
  EXPECT_EQ(shell.ResultsText(), "");
  EXPECT_EQ(shell.engine.stepDelay(), 500);  // the speeds' timing is the runner's pacing test
}

TEST(ScriptCommands, BinconSetsTheSwitchThroughTheMenuCommand) {
  struct Case {
    const char* line;
    bool before;
    bool after;
    bool posts;
  };
  const Case cases[] = {
      {"#bincon,ON", false, true, true},   {"#bincon,on", true, true, true},
      {"#bincon,off", true, false, true},  {"#bincon,no", true, false, true},
      {"#bincon,", true, true, false},     {"#bincon,", false, false, false},
      {"#bincon", true, false, true},      {"#bincon", false, true, true},
      {"#bincon,Only", false, true, true},
  };
  for (const Case& c : cases) {
    FakeShell shell;
    shell.state.convertBinary = c.before;
    Step(shell, {c.line});
    EXPECT_EQ(shell.state.convertBinary, c.after) << c.line << " from " << c.before;
    EXPECT_EQ(shell.handled.size(), c.posts ? 1u : 0u) << c.line;
  }
}

TEST(ScriptCommands, PrintWritesThePaneWithCrLfLines) {
  TempFolder folder("parlex2-print");
  const auto& dir = folder.Path();
  const auto file = dir / "results.txt";

  FakeShell shell;
  shell.AppendText("one\r\ntwo\r\n");
  Step(shell, {"#print," + file.string()});
  EXPECT_EQ(ReadFileBytes(file), "one\r\ntwo\r\n");

  // A second print replaces the first content.
  shell.ClearResults();
  shell.AppendText("three\n\r");
  Step(shell, {"#print," + file.string()});
  EXPECT_EQ(ReadFileBytes(file), "three\r\n");

  // No name or an unwritable one: the message, with no line end after it.
  shell.ClearResults();
  Step(shell,
       {"#print,", "#print", "#print," + (dir / "missing" / "x.txt").string(), "#echo,next"});
  EXPECT_EQ(shell.ResultsText(),
            "!!Invalid file location in script!!!!Invalid file location in script!!"
            "!!Invalid file location in script!!next\r\n");
}

}  // namespace
}  // namespace parlex2::testing
