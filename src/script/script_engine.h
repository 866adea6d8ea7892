// The script runner: one script line per due time of a running script, or one
// per step, paced by the main window's 1 ms timer.
//
// A script line is one of four kinds, told by its first character: a double
// quote sends the rest of the line to the instrument, "#" is a script command
// (script_commands.h), "=" a calculator line (calculator.h), anything else a
// comment. Replies are never read here: the poller shows them and counts their
// characters in ShellState::receivedCount, which the runner watches.
//
// Everything runs on the UI thread: Tick once per timer message, after the
// poller. A stop is asked for by posting IDC_RUN with MARK_STOP_IF_RUNNING,
// which the main window handles (a running script stops, anything else stays
// as it is) before the next tick.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/shell_state.h"
#include "script/calculator.h"
#include "script/run_record.h"
#include "script/shell_host.h"

namespace parlex2 {

inline constexpr std::size_t kScriptLineMax = 2048;  // list lines are shorter
inline constexpr int kDefaultStepDelayMs = 250;
inline constexpr int kQueryTimeoutMs = 5000;    // a query without a #reply line
inline constexpr int kAfterReplyDelayMs = 250;  // from the tick that saw a reply

// Why the last tick asked the main window to stop a run (for a front end that
// must tell a pause from an end, such as the command line).
enum class StopReason { None, Wait, EndOfScript, TestFailed, SendFailed };

class ScriptEngine {
 public:
  ScriptEngine(ShellHost& host, ShellState& state) : host_(host), state_(state) {}

  // The timer's work while a script runs or steps.
  void Tick();

  // Runs the line at `index` of a list of `count` lines; a query may consume
  // the "#reply" line after it, advancing `index` by one. True when a send
  // failed.
  bool ExecuteScriptLine(int& index, int count);

  // Asks the main window to stop the run (posts IDC_RUN marked "stop if
  // running"), only while running; one post per tick however many lines ask.
  // The mark keeps the request from toggling: a user's Stop handled first
  // must not turn it into a restart.
  void StopRequest(StopReason reason);

  // The wait for a reply of a query or a "#reply" line.
  void StartReplyWait();

  // Loads a script file into the list, as the Script menu item does (the
  // script-file test with its messages), and keeps `path` and the file line
  // of every list line for the run's record. True when the file passed.
  bool LoadScript(const std::string& path);

  // The record of the current run, or of the last one: started afresh when a
  // run starts from the first line, filled by every test line that runs, and
  // closed with the run's status whenever the run stops.
  const RunRecord& record() const { return record_; }
  // The record as a report holds it: with the results pane's text now, and
  // "stopped" for a run the user stopped.
  RunRecord RecordForReport();
  // A read from the instrument failed: a run going on ends as "connection lost".
  void NoteConnectionLost();
  // The identity the next run's record names (from the connection's
  // identification; none when there was none).
  std::optional<InstrumentIdentity> instrument;

  ShellHost& host() { return host_; }
  ShellState& state() { return state_; }
  Calculator& calculator() { return calculator_; }

  int stepDelay() const { return stepDelay_; }
  void setStepDelay(int milliseconds) { stepDelay_ = milliseconds; }
  std::uint64_t nextLineDue() const { return nextLineDue_; }
  bool awaitingReply() const { return awaitingReply_; }
  StopReason lastStopReason() const { return stopReason_; }

  // Path of the loaded script file.
  std::string scriptPath;

 private:
  bool RunSendLine(const std::string& line, int& index, int count, int& extraDelay);
  void RunCalculatorLine(const std::string& line, int index);
  void StartRecord();
  void CloseRecord(StopReason reason);
  // The name of a test at list line `index`: the nearest comment line above.
  std::string TestName(int index);
  int FileLine(int index) const;

  ShellHost& host_;
  ShellState& state_;
  Calculator calculator_;
  int stepDelay_ = kDefaultStepDelayMs;
  std::uint64_t nextLineDue_ = 0;
  bool awaitingReply_ = false;
  bool replySeen_ = false;  // a reply line came since the wait began
  bool stopPosted_ = false;
  StopReason stopReason_ = StopReason::None;
  RunRecord record_;
  bool recordStarted_ = false;
  std::vector<int> fileLines_;  // the file line of each list line, from 1
};

}  // namespace parlex2
