// The script runner on simulated time: pacing, queries and their replies,
// stepping, stopping and resuming, send failures.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/fake_shell.h"

namespace parlex2::testing {
namespace {

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
  shell.Load({"\"a", "comment", "\"b", "#fast", "\"c", "\"d", "#slow", "\"e", "#normal", "\"f"});
  shell.Press(IDC_RUN);
  shell.RunUntilStopped();

  EXPECT_EQ(log.At("b") - log.At("a"), 500u);  // a comment line takes its StepDelay too
  EXPECT_EQ(log.At("c") - log.At("b"), 300u);  // #fast applies to the pause after itself
  EXPECT_EQ(log.At("d") - log.At("c"), 50u);
  EXPECT_EQ(log.At("e") - log.At("d"), 550u);  // 50 after d, 500 after #slow
  EXPECT_EQ(log.At("f") - log.At("e"), 750u);  // 500 after e, 250 after #normal
  EXPECT_EQ(shell.state.scriptState, kScriptStopped);
  EXPECT_EQ(shell.ScriptSelection(), -1);
  EXPECT_EQ(shell.RunCommandsHandled(), 1);

  // StepDelay survives the run: #fast at the end stays in force for the next.
  shell.Load({"#fast", "\"g", "\"h"});
  shell.Press(IDC_RUN);
  shell.RunUntilStopped();
  shell.Load({"\"i", "\"j"});
  shell.Press(IDC_RUN);
  shell.RunUntilStopped();
  EXPECT_EQ(log.At("j") - log.At("i"), 50u);
}

TEST(ScriptRunner, QueryWaitsForItsReplyOrTimesOut) {
  struct Case {
    const char* name;
    std::vector<std::string> lines;
    bool instrumentAnswers;
    std::uint64_t nextAfter;  // ms from the query's send to the next line's
    bool timeout;
  };
  const Case cases[] = {
      {"reply line in capitals, no answer", {"\"volt?", "#REPLY,10", "\"next"}, false, 10250, true},
      {"bare reply line is one second", {"\"volt?", "#reply", "\"next"}, false, 1250, true},
      {"reply line below the limit", {"\"volt?", "#reply,0", "\"next"}, false, 1250, true},
      {"no reply line: five seconds", {"\"volt?", "\"next"}, false, 5250, true},
      {"answered: 250 ms after the tick that saw it",
       {"\"volt?", "#reply,10", "\"next"},
       true,
       251,
       false},
      {"answered without a reply line", {"\"volt?", "\"next"}, true, 251, false},
      {"blank after the question mark: not a query", {"\"volt? ", "\"next"}, false, 250, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeShell shell;
    SendLog log;
    const bool answers = c.instrumentAnswers;
    log.Attach(shell, [answers](const std::string& cmd) {
      return answers && cmd.back() == '?' ? std::string("1.234\r\n") : std::string();
    });
    shell.Load(c.lines);
    shell.Press(IDC_RUN);
    shell.RunUntilStopped();
    const std::string query = c.lines[0].substr(1);
    EXPECT_EQ(log.At("next") - log.At(query), c.nextAfter);
    EXPECT_EQ(log.sends.size(), 2u);  // the reply line is never run on its own
    const std::string results = shell.ResultsText();
    EXPECT_EQ(results.find("TIMEOUT\r\n") != std::string::npos, c.timeout) << results;
    if (answers) {
      EXPECT_EQ(results, "> volt?\r\n1.234\r\n> next\r\n");
    }
  }
}

TEST(ScriptRunner, EveryFurtherReplyLineMovesTheNextLineOnEvenOfOneCharacter) {
  FakeShell shell;
  SendLog log;
  log.Attach(shell);
  shell.Load({"\"dump?", "\"next"});
  shell.Press(IDC_RUN);
  shell.RunFor(10);
  shell.peer->Queue("first\r\n");
  shell.RunFor(200);
  shell.peer->Queue("x\r\n");  // one character is a reply like any other
  const std::uint64_t lastSeen = shell.clock.TickMs() + 1;
  shell.RunUntilStopped();
  EXPECT_EQ(log.At("next"), lastSeen + 250);
  EXPECT_EQ(shell.ResultsText(), "> dump?\r\nfirst\r\nx\r\n> next\r\n");  // no TIMEOUT
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

  shell.Press(IDC_RUN);
  shell.Press(IDC_STEP);  // only from a stopped script
  EXPECT_EQ(shell.state.scriptState, kScriptRunning);
}

TEST(ScriptRunner, StopAndResumeKeepTheCalculatorAndRestartFromTheTopResetsIt) {
  FakeShell shell;
  shell.Load({"=3", "#wait", "=enter", "=add", "\"done"});
  Calculator& calc = shell.engine.calculator();
  shell.Press(IDC_RUN);
  shell.RunUntilStopped();
  EXPECT_EQ(shell.ScriptSelection(), 2);
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

  // The Stop button pauses a run; Run continues at the selected line.
  shell.Load({"\"a", "\"b", "\"c"});
  shell.Press(IDC_RUN);
  shell.RunFor(300);
  shell.Press(IDC_RUN);
  EXPECT_EQ(shell.state.scriptState, kScriptStopped);
  EXPECT_EQ(shell.ScriptSelection(), 2);
  shell.Press(IDC_RUN);
  shell.RunUntilStopped();
  EXPECT_EQ(shell.Sent(), (std::vector<std::string>{"done", "done", "a", "b", "c"}));
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

  shell.peer->failWrites = false;
  shell.Press(IDC_RUN);
  shell.RunUntilStopped();
  EXPECT_EQ(shell.Sent(), (std::vector<std::string>{"b", "c"}));

  // In a step only the line fails.
  shell.peer->failWrites = true;
  shell.Press(IDC_STEP);
  shell.Timer();
  EXPECT_EQ(shell.state.scriptState, kScriptStopped);
  EXPECT_EQ(shell.ScriptSelection(), 1);
  EXPECT_EQ(shell.handled.size(), 2u);  // only the two stops of the runs before
}

// A stop asked for by the last line and the end-of-script stop are one stop:
// the run must stay stopped, not toggle back and restart from the first line.
TEST(ScriptRunner, StopRequestedByTheLastLineLeavesTheRunStopped) {
  const std::vector<std::vector<std::string>> scripts = {
      {"\"a", "#wait"},
      {"\"a", "=stop,onfail", "=10", "=11", "=test,hi"},
  };
  for (const auto& lines : scripts) {
    SCOPED_TRACE(lines.back());
    FakeShell shell;
    shell.Load(lines);
    shell.Press(IDC_RUN);
    shell.RunUntilStopped(10000);
    shell.RunFor(3000);
    EXPECT_EQ(shell.state.scriptState, kScriptStopped);
    EXPECT_EQ(shell.RunCommandsHandled(), 1);
    EXPECT_EQ(shell.Sent(), std::vector<std::string>{"a"});
    EXPECT_EQ(shell.ScriptSelection(), -1);
  }
}

TEST(ScriptRunner, EmptyListStopsAtOnceAndLastLineQueryTimesOutOnTheNextRun) {
  FakeShell shell;
  shell.Load({});
  shell.Press(IDC_RUN);
  EXPECT_LE(shell.RunUntilStopped(), 1u);

  shell.Load({"\"ok", "\"last?"});
  shell.Press(IDC_RUN);
  shell.RunUntilStopped();
  EXPECT_EQ(shell.ResultsText(), "> ok\r\n> last?\r\n");  // the run ended without waiting
  shell.Press(IDC_RUN);
  shell.Timer();
  EXPECT_EQ(shell.ResultsText(), "> ok\r\n> last?\r\nTIMEOUT\r\n> ok\r\n");
}

TEST(ScriptRunner, SendLineSendsEverythingAfterTheQuoteUnchanged) {
  FakeShell shell;
  shell.Load({"\"", "\" spaced \"", "\"^c", " \"indented is a comment", "\tand this"});
  shell.Press(IDC_RUN);
  shell.RunUntilStopped();
  EXPECT_EQ(shell.peer->written, std::string("\n spaced \"\n\x03\n"));
}

TEST(ScriptRunner, PostedCommandsActBeforeTheNextLine) {
  FakeShell shell;
  shell.Load({"#echo,old", "#clear", "\"b"});
  shell.Press(IDC_RUN);
  shell.RunUntilStopped();
  EXPECT_EQ(shell.ResultsText(), "> b\r\n");
}

}  // namespace
}  // namespace parlex2::testing

namespace parlex2::testing {
namespace {

// The user's Stop and the engine's own stop at the end of the script reach the
// window together: the run must end stopped, not start again from line 1.
TEST(ScriptRunner, UsersStopAndEndOfScriptStopTogetherLeaveTheRunStopped) {
  FakeShell shell;
  shell.Load({"\"a", "=10"});
  shell.Press(IDC_RUN);
  shell.RunFor(250);  // the first line has run; the last is due at the next tick
  EXPECT_EQ(shell.Sent(), std::vector<std::string>{"a"});
  shell.clock.Advance(1);
  shell.engine.Tick();   // the last line runs and asks for the stop
  shell.Press(IDC_RUN);  // the user's Stop, handled before the posted stop
  shell.HandlePosted();
  EXPECT_EQ(shell.state.scriptState, kScriptStopped);
  shell.RunFor(2000);
  EXPECT_EQ(shell.state.scriptState, kScriptStopped);
  EXPECT_EQ(shell.Sent(), std::vector<std::string>{"a"});
}

}  // namespace
}  // namespace parlex2::testing
