#include "script/script_engine.h"

#include <algorithm>

#include "common/clock.h"
#include "common/command_ids.h"
#include "common/text.h"
#include "script/script_commands.h"
#include "script/script_file.h"

namespace parlex2 {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// The text a comment line gives a test as its name; empty for any other line.
std::string_view CommentText(std::string_view line) {
  if (line.empty() || line.front() == '"' || line.front() == '=') return {};
  if (line.front() == '#') {
    if (IsScriptCommand(line)) return {};
    line.remove_prefix(1);
  }
  return Trimmed(line);
}

}  // namespace

bool ScriptEngine::LoadScript(const std::string& path) {
  scriptPath = path;
  return LoadScriptFile(host_, scriptPath, true, &fileLines_);
}

void ScriptEngine::Tick() {
  // A stop posted by the previous tick has been handled by now.
  stopPosted_ = false;
  stopReason_ = StopReason::None;
  if (state_.scriptState != kScriptRunning && state_.scriptState != kScriptStep) return;

  int index = host_.ScriptSelection();
  if (index < 0) {
    // No line selected: a run from the first line, with everything reset.
    index = 0;
    nextLineDue_ = 0;
    calculator_.Reset();
    StartRecord();
  } else if (!recordStarted_ || record_.script != scriptPath) {
    StartRecord();  // a first run begun from a chosen line: the calculator is kept
  }
  const int count = host_.ScriptLineCount();

  if (state_.scriptState == kScriptRunning && host_.TickCount() < nextLineDue_) {
    if (awaitingReply_ && state_.receivedCount > 0) {
      // A reply line came: go on shortly, however long the time-out was. The
      // count starts again so that every further line, however short, moves
      // the due time on once more.
      nextLineDue_ = host_.TickCount() + kAfterReplyDelayMs;
      replySeen_ = true;
      state_.receivedCount = 0;
    }
    return;
  }

  if (awaitingReply_ && !replySeen_ && state_.receivedCount == 0) host_.AppendText("TIMEOUT\r\n");
  awaitingReply_ = false;

  record_.status = RunStatus::Running;
  record_.finished.reset();
  const bool sendFailed = ExecuteScriptLine(index, count);
  const int next = index + 1;
  host_.SelectScriptLine(next < count ? next : -1);
  const bool finished = next >= count || sendFailed;
  const StopReason ending = sendFailed ? StopReason::SendFailed
                            : finished ? StopReason::EndOfScript
                                       : StopReason::None;

  if (state_.scriptState == kScriptRunning) {
    if (finished) StopRequest(ending);
    if (stopReason_ != StopReason::None) CloseRecord(stopReason_);
  } else if (state_.scriptState == kScriptStep) {
    state_.scriptState = kScriptStopped;
    CloseRecord(ending);  // a step leaves the run stopped, or ended
  }
}

bool ScriptEngine::ExecuteScriptLine(int& index, int count) {
  std::string line = host_.ScriptLine(index);
  if (line.size() > kScriptLineMax) line.resize(kScriptLineMax);
  int extraDelay = 0;
  bool sendFailed = false;
  if (!line.empty()) {
    switch (line.front()) {
      case '"':
        sendFailed = RunSendLine(line, index, count, extraDelay);
        break;
      case '#':
        extraDelay = RunScriptCommand(line, *this);
        break;
      case '=':
        RunCalculatorLine(line, index);
        break;
      default:
        break;  // a comment
    }
  }
  if (state_.scriptState == kScriptRunning) {
    nextLineDue_ = host_.TickCount() + static_cast<std::uint64_t>(stepDelay_) +
                   static_cast<std::uint64_t>(extraDelay);
  }
  return sendFailed;
}

bool ScriptEngine::RunSendLine(const std::string& line, int& index, int count, int& extraDelay) {
  const std::string command = line.substr(1);  // sent unchanged: nothing trimmed
  if (line.back() == '?') {
    int timeout = 0;
    if (index + 1 < count) {
      const std::string replyLine = host_.ScriptLine(index + 1);
      if (StartsWithNoCase(replyLine, "#reply")) {
        timeout = ParseSecondsArgument(replyLine);
        ++index;  // consumed here, not run on its own
      }
    }
    if (timeout == 0) timeout = kQueryTimeoutMs;
    StartReplyWait();
    extraDelay = timeout;
  }
  std::string echo = state_.timeStamps ? LineTimeStamp(GetClock().Now()) : std::string();
  echo += "> " + command;
  state_.lastReceivedLine.reset();  // "=reply" reads what answers this command
  const bool failed = host_.SendTypedCommand(command);
  echo += failed ? "ERROR SENDING THIS COMMAND\r\n" : "\r\n";
  host_.AppendText(echo);
  return failed;
}

void ScriptEngine::StartReplyWait() {
  awaitingReply_ = true;
  replySeen_ = false;
  state_.receivedCount = 0;
}

void ScriptEngine::StopRequest(StopReason reason) {
  if (state_.scriptState != kScriptRunning) return;
  stopReason_ = std::max(stopReason_, reason);
  if (stopPosted_) return;
  stopPosted_ = true;
  host_.PostCommand(IDC_RUN, MARK_STOP_IF_RUNNING);
}

}  // namespace parlex2

namespace parlex2 {

void ScriptEngine::RunCalculatorLine(const std::string& line, int index) {
  std::optional<std::string_view> reply;
  if (state_.lastReceivedLine) reply = *state_.lastReceivedLine;
  const bool stop = calculator_.Execute(std::string_view(line).substr(1), reply);
  if (const std::optional<CalcCheck>& check = calculator_.lastCheck) {
    TestRecord test;
    test.name = TestName(index);
    test.line = FileLine(index);
    test.condition = check->condition;
    test.value = check->value;
    test.lower = check->lower;
    test.upper = check->upper;
    test.passed = check->passed;
    test.reason = check->reason;
    test.time = GetClock().Now();
    test.tickMs = host_.TickCount();
    record_.tests.push_back(std::move(test));
  }
  if (stop) StopRequest(StopReason::TestFailed);
}

std::string ScriptEngine::TestName(int index) {
  for (int i = index - 1; i >= 0; --i) {
    const std::string line = host_.ScriptLine(i);
    const std::string_view name = CommentText(line);
    if (!name.empty()) return std::string(name);
  }
  return "line " + std::to_string(FileLine(index));
}

int ScriptEngine::FileLine(int index) const {
  // Lines put into the list by other means than LoadScript count from 1.
  if (static_cast<int>(fileLines_.size()) == host_.ScriptLineCount() && index >= 0 &&
      index < static_cast<int>(fileLines_.size())) {
    return fileLines_[static_cast<std::size_t>(index)];
  }
  return index + 1;
}

void ScriptEngine::StartRecord() {
  record_ = RunRecord{};
  record_.script = scriptPath;
  record_.instrument = instrument;
  record_.started = GetClock().Now();
  record_.startTickMs = host_.TickCount();
  recordStarted_ = true;
  // A line received before the run answered none of its commands.
  state_.lastReceivedLine.reset();
}

void ScriptEngine::CloseRecord(StopReason reason) {
  switch (reason) {
    case StopReason::None:
    case StopReason::Wait:
      record_.status = RunStatus::Stopped;
      break;
    case StopReason::EndOfScript:
      record_.status = calculator_.failCount > 0 || record_.FailedTests() > 0 ? RunStatus::Failed
                                                                              : RunStatus::Passed;
      break;
    case StopReason::TestFailed:
      record_.status = RunStatus::Failed;
      break;
    case StopReason::SendFailed:
      record_.status = RunStatus::SendFailed;
      break;
  }
  if (record_.connectionLost) record_.status = RunStatus::ConnectionLost;
  record_.finished = GetClock().Now();
  record_.finishTickMs = host_.TickCount();
}

void ScriptEngine::NoteConnectionLost() {
  if (!recordStarted_) return;
  if (state_.scriptState != kScriptRunning && state_.scriptState != kScriptStep) return;
  record_.connectionLost = true;
  if (record_.status != RunStatus::Running) record_.status = RunStatus::ConnectionLost;
}

RunRecord ScriptEngine::RecordForReport() {
  RunRecord report = record_;
  report.transcript = host_.ResultsText();
  const bool live = state_.scriptState == kScriptRunning || state_.scriptState == kScriptStep;
  if (report.status == RunStatus::Running && !live) {
    report.status = report.connectionLost ? RunStatus::ConnectionLost : RunStatus::Stopped;
  }
  if (!report.finished) report.finishTickMs = host_.TickCount();
  return report;
}

}  // namespace parlex2
