// parlex2 run SCRIPT: runs a script file against the instrument without a
// window, with the program's engine and its timing: one timer message every
// millisecond (poll, then the script's tick), and the commands the script
// posts handled before the next one, as the main window handles them.
#include <algorithm>
#include <iostream>
#include <memory>
#include <string>

#include "app/poller.h"
#include "app/shell.h"
#include "app/terminal.h"
#include "cli/cli.h"
#include "cli/console_shell_host.h"
#include "common/clock.h"
#include "common/command_ids.h"
#include "script/script_engine.h"
#include "script/script_file.h"
#include "script/test_report.h"

namespace parlex2::cli {
namespace {

// Exit statuses of run, beside those shared by every subcommand.
constexpr int kExitTestFailed = 3;
constexpr int kExitSendFailed = 4;
constexpr int kExitAbandoned = 5;
constexpr int kExitReportNotWritten = 6;

struct RunOptions {
  std::string script;
  bool interactive = false;
  std::string junit;  // --junit FILE
  std::string json;   // --json FILE
  bool timeStamps = false;
};

const char* ExitMeaning(int status) {
  switch (status) {
    case kExitOk:
      return "it ran to its end with no failed test";
    case kExitTestFailed:
      return "a test failed";
    case kExitSendFailed:
      return "a send failed";
    case kExitAbandoned:
      return "abandoned at a #wait";
    default:
      return "the connection broke";
  }
}

class HeadlessRun {
 public:
  HeadlessRun(Context& ctx, InstrumentLink& link)
      : link_(link), host_(link, ctx.ui, std::cout), shell_(link, host_, window_) {}

  // The script-file test and the list, as the Script menu item loads them.
  bool Load(const std::string& path) { return shell_.engine().LoadScript(path); }

  // The run's record as the reports hold it, once Run has returned `status`.
  RunRecord Record(int status) {
    RunRecord record = shell_.engine().RecordForReport();
    // Replies lost with the link may have held failures: the run passed nothing.
    if (linkLost_ || status == kExitConnection) record.status = RunStatus::ConnectionLost;
    return record;
  }

  int Run(bool interactive, bool timeStamps) {
    ShellState& state = shell_.state();
    state.timeStamps = timeStamps;
    link_.info.connected = true;
    state.pollingEnabled = true;
    state.scriptState = kScriptStopped;
    shell_.RunCommand(IDC_RUN, 0);  // the Run button
    for (;;) {
      shell_.Timer();
      PrintFailedTests();
      // The reason of this tick, before a posted command's tick can clear it.
      const StopReason reason = shell_.engine().lastStopReason();
      HandlePosted();
      if (state.scriptState != kScriptRunning) {
        switch (reason) {
          case StopReason::SendFailed:
            return LinkLostAtTheFailedSend() ? kExitConnection : kExitSendFailed;
          case StopReason::TestFailed:
            return linkLost_ ? kExitConnection : kExitTestFailed;
          case StopReason::EndOfScript:
            FinishLastLine();
            // A link lost on the way may have taken replies with it, so
            // neither a pass nor the count of failures can be trusted.
            if (linkLost_) return kExitConnection;
            return shell_.engine().calculator().failCount > 0 ? kExitTestFailed : kExitOk;
          case StopReason::Wait:
            if (interactive && !AskToContinue()) return kExitAbandoned;
            shell_.RunCommand(IDC_RUN, 0);
            break;
          case StopReason::None:
            return kExitOk;  // nothing here stops a run otherwise
        }
      }
      GetClock().SleepMs(1);
    }
  }

 private:
  // The commands the script and the poller posted, handled as the main
  // window handles them (a read failure closes the link; the question's
  // default answer keeps it closed, so the script's next send fails).
  void HandlePosted() {
    RunPostedCommands(shell_, host_, [this](const PostedCommand& command) {
      linkLost_ |= command.id == ID_DISCONNECT && command.mark == MARK_READ_FAILED;
    });
  }

  // A send fails either on a link that still holds (a COM port that could
  // not take the bytes in time) or because the connection has gone. One more
  // poll, as the next timer message would make, tells them apart: a lost
  // connection is reported as a read failure would have reported it.
  bool LinkLostAtTheFailedSend() {
    if (!linkLost_ && link_.portOpen()) {
      PollReceivedData(link_, shell_.lineBuffer(), shell_.state(), host_, kPollBudgetMs);
      HandlePosted();
    }
    return linkLost_ || !link_.portOpen();
  }

  // The last line's replies still arrive: go on polling until its due time,
  // or 250 ms after a reply to its query has begun.
  void FinishLastLine() {
    Clock& clock = GetClock();
    ScriptEngine& engine = shell_.engine();
    ShellState& state = shell_.state();
    std::uint64_t until = engine.nextLineDue();
    bool replySeen = false;
    while (clock.TickMs() < until && link_.portOpen() && state.pollingEnabled) {
      PollReceivedData(link_, shell_.lineBuffer(), state, host_, kPollBudgetMs);
      HandlePosted();
      if (!replySeen && engine.awaitingReply() && state.receivedCount > 0) {
        replySeen = true;
        until = std::min(until, clock.TickMs() + kAfterReplyDelayMs);
      }
      clock.SleepMs(1);
    }
  }

  // Each failed test on standard error as it is recorded, so that a failure
  // shows without a report.
  void PrintFailedTests() {
    const std::vector<TestRecord>& tests = shell_.engine().record().tests;
    if (tests.size() < printedTests_) printedTests_ = 0;  // a new record
    for (; printedTests_ < tests.size(); ++printedTests_) {
      const TestRecord& test = tests[printedTests_];
      if (!test.passed) PrintError("failed: " + FailedTestLine(test));
    }
  }

  // A #wait: Enter continues, q and Enter (or the end of input) abandons.
  bool AskToContinue() {
    std::cerr << "Press Enter to continue, or q and Enter to abandon the script" << std::endl;
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    return !(answer == "q" || answer == "Q");
  }

  InstrumentLink& link_;
  bool linkLost_ = false;  // a read failed while the script ran
  std::size_t printedTests_ = 0;
  ConsoleShellHost host_;
  ShellWindow window_;  // no window: the shell's window calls do nothing
  Shell shell_;
};

// Writes the reports asked for. False when one could not be written (said on
// standard error; the others are written all the same).
bool WriteReports(const RunRecord& record, const RunOptions& options) {
  bool written = true;
  const std::pair<const std::string*, ReportFormat> reports[] = {
      {&options.junit, ReportFormat::JUnit}, {&options.json, ReportFormat::Json}};
  for (const auto& [path, format] : reports) {
    if (path->empty()) continue;
    if (auto error = WriteReportFile(*path, ReportText(record, format))) {
      PrintError(std::string("cannot write the ") +
                 (format == ReportFormat::Json ? "JSON" : "JUnit") + " report " + *path + ": " +
                 *error);
      written = false;
    }
  }
  return written;
}

int RunScriptFile(Context& ctx, const RunOptions& options) {
  InstrumentLink link;
  if (int status = ctx.PrepareLink(link)) return status;
  HeadlessRun run(ctx, link);
  if (!run.Load(options.script)) return kExitConnection;
  if (int status = ctx.OpenLink(link)) return status;
  const int status = run.Run(options.interactive, options.timeStamps);
  link.Close();
  if (!WriteReports(run.Record(status), options)) {
    PrintError("the run itself ended with status " + std::to_string(status) + ": " +
               ExitMeaning(status));
    return kExitReportNotWritten;
  }
  return status;
}

const bool added = RegisterCommand("run", [](CLI::App& app, Context& ctx) {
  auto options = std::make_shared<RunOptions>();
  auto* sub = app.add_subcommand(
      "run",
      "run a script file against the instrument; exit status 0 when it ran to its end with no "
      "failed test, 3 when a test failed, 4 when a send failed on a connection that held, 5 "
      "when abandoned at a #wait, 6 when a report could not be written, 1 when the file is no "
      "script or the connection failed or broke, 2 usage (no such file); each failed test is "
      "printed on standard error");
  sub->add_option("SCRIPT", options->script, "the script file")->required()->check(FileToRead());
  sub->add_flag("--interactive", options->interactive,
                "stop at each #wait until Enter is pressed (q and Enter abandons the script); "
                "without it a #wait continues at once");
  sub->add_option("--junit", options->junit,
                  "write the run's record as a JUnit XML report to FILE at the end of the run "
                  "(however it ended)")
      ->type_name("FILE");
  sub->add_option("--json", options->json,
                  "write the run's record as a JSON report to FILE at the end of the run "
                  "(however it ended)")
      ->type_name("FILE");
  sub->add_flag("--timestamps", options->timeStamps,
                "begin each received line and each sent command's echo with the computer's "
                "time, HH:MM:SS.mmm");
  sub->callback([&ctx, options] { ctx.exitCode = RunScriptFile(ctx, *options); });
});

}  // namespace
}  // namespace parlex2::cli
