#include "script/script_commands.h"

#include <cstdio>
#include <fstream>
#include <string>

#include "common/clock.h"
#include "common/command_ids.h"
#include "common/text.h"
#include "script/script_engine.h"

namespace parlex2 {
namespace {

constexpr int kMinSeconds = 1;
constexpr int kMaxSeconds = 500;

// The text after the first comma of the line; nothing when there is no comma.
bool Argument(std::string_view line, std::string_view& argument) {
  const auto comma = line.find(',');
  if (comma == std::string_view::npos) return false;
  argument = line.substr(comma + 1);
  return true;
}

void Wait(std::string_view line, ScriptEngine& engine) {
  std::string_view text;
  std::string shown = Argument(line, text) && !text.empty()
                          ? std::string(text)
                          : std::string("! Press Close to abort script or Press Run to continue");
  engine.host().AppendText(shown + "\r\n");
  engine.StopRequest(StopReason::Wait);
}

void Echo(std::string_view line, ScriptEngine& engine) {
  std::string_view text;
  if (!Argument(line, text)) text = {};
  engine.host().AppendText(std::string(text) + "\r\n");
}

void Time(ScriptEngine& engine) {
  const LocalTime now = GetClock().Now();
  char text[48];
  std::snprintf(text, sizeof text, "time: %02d:%02d:%02d:%03d\r\n", now.hour, now.minute,
                now.second, now.millisecond);
  engine.host().AppendText(text);
}

// The main window's ID_CONVERT_BINARY toggles the switch and its check mark,
// so the wanted value is reached by setting the opposite first.
void BinaryConversion(std::string_view line, ScriptEngine& engine) {
  std::string_view argument;
  if (Argument(line, argument)) {
    if (argument.empty()) return;
    const bool wanted = StartsWithNoCase(argument, "on");
    engine.state().convertBinary = !wanted;
  }
  engine.host().PostCommand(ID_CONVERT_BINARY);
}

void Print(std::string_view line, ScriptEngine& engine) {
  std::string_view name;
  if (!Argument(line, name)) name = {};
  std::ofstream file;
  if (!name.empty()) file.open(std::string(name), std::ios::binary | std::ios::trunc);
  if (!file.is_open()) {
    engine.host().AppendText("!!Invalid file location in script!!");
    return;
  }
  // The pane's lines with carriage-return line-feed ends, whatever the
  // platform: every carriage return is dropped and every line feed written as
  // the pair.
  std::string out;
  for (char c : engine.host().ResultsText()) {
    if (c == '\r') continue;
    if (c == '\n') out += '\r';
    out += c;
  }
  file.write(out.data(), static_cast<std::streamsize>(out.size()));
}

}  // namespace

int ParseSecondsArgument(std::string_view line) {
  std::string_view argument;
  if (!Argument(line, argument)) return kMinSeconds * 1000;
  int seconds = AtoI(UntilNul(argument));
  if (seconds < kMinSeconds) seconds = kMinSeconds;
  if (seconds > kMaxSeconds) seconds = kMaxSeconds;
  return seconds * 1000;
}

bool IsScriptCommand(std::string_view line) {
  static constexpr std::string_view kKeywords[] = {"beep",  "pause", "reply",  "clear",
                                                   "wait",  "echo",  "time",   "bincon",
                                                   "print", "fast",  "normal", "slow"};
  if (line.empty() || line.front() != '#') return false;
  for (std::string_view keyword : kKeywords) {
    if (StartsWithNoCase(line.substr(1), keyword)) return true;
  }
  return false;
}

int RunScriptCommand(std::string_view line, ScriptEngine& engine) {
  const std::string_view word = line.substr(1);  // after the '#'
  // Tried in this order; none of the keywords begins another.
  if (StartsWithNoCase(word, "beep")) {
    engine.host().Beep();
  } else if (StartsWithNoCase(word, "pause")) {
    return ParseSecondsArgument(line);
  } else if (StartsWithNoCase(word, "reply")) {
    engine.StartReplyWait();
    return ParseSecondsArgument(line);
  } else if (StartsWithNoCase(word, "clear")) {
    engine.host().PostCommand(ID_RESULT_CLEAR);
  } else if (StartsWithNoCase(word, "wait")) {
    Wait(line, engine);
  } else if (StartsWithNoCase(word, "echo")) {
    Echo(line, engine);
  } else if (StartsWithNoCase(word, "time")) {
    Time(engine);
  } else if (StartsWithNoCase(word, "bincon")) {
    BinaryConversion(line, engine);
  } else if (StartsWithNoCase(word, "print")) {
    Print(line, engine);
  } else if (StartsWithNoCase(word, "fast")) {
    engine.setStepDelay(50);
  } else if (StartsWithNoCase(word, "normal")) {
    engine.setStepDelay(kDefaultStepDelayMs);
  } else if (StartsWithNoCase(word, "slow")) {
    engine.setStepDelay(500);
  }
  return 0;
}

}  // namespace parlex2
