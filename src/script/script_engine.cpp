#include "script/script_engine.h"

#include <algorithm>

#include "common/command_ids.h"
#include "script/script_commands.h"

namespace parlex2 {

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

  const bool sendFailed = ExecuteScriptLine(index, count);
  const int next = index + 1;
  host_.SelectScriptLine(next < count ? next : -1);
  const bool finished = next >= count || sendFailed;

  if (state_.scriptState == kScriptRunning) {
    if (finished) StopRequest(sendFailed ? StopReason::SendFailed : StopReason::EndOfScript);
  } else if (state_.scriptState == kScriptStep) {
    state_.scriptState = kScriptStopped;
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
        if (calculator_.Execute(std::string_view(line).substr(1))) {
          StopRequest(StopReason::TestFailed);
        }
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
  std::string echo = "> " + command;
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
