// The timestamped trace of what passes between the program and the
// instrument. Entries go to the log file while file logging is on and a path is
// set, otherwise to the debugger output; an echo, when one is set, receives
// every entry as well. Safe to call from the upgrade worker thread as well as
// the UI thread.
#pragma once

#include <string>
#include <string_view>

#include "common/clock.h"

namespace parlex2 {

class UserInterface;

class CommsLog {
 public:
  // Writes "[hh:mm:ss.mmm] " and `text` (which carries its own line feed),
  // stamped by `clock` (the link passes its own; others the clock in force).
  static void Write(std::string_view text, Clock& clock);
  static void Write(std::string_view text) { Write(text, GetClock()); }
  static bool IsLoggingEnabled();
  // True while an entry is kept somewhere a user reads it: file logging on, or
  // an echo set. The link builds its exchange lines only then.
  static bool IsTraceKept();
  static void ToggleLogging();
  // Keeps at most 259 characters of `path`.
  static void SetLogPath(std::string_view path);
  static std::string GetLogPath();
  // Where "Error opening comms log for writing" is shown (not owned; may be
  // null, then the message goes to the debugger output).
  static void SetUserInterface(UserInterface* ui);
  // Every entry from now on also goes to `echo`, whether or not it is written
  // to the file (the command line's -v prints the trace on standard error).
  // Called on the thread that writes the entry; null: no echo.
  using Echo = void (*)(std::string_view entry);
  static void SetEcho(Echo echo);
};

}  // namespace parlex2
