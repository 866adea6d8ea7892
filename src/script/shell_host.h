// What the script engine and the terminal's poller need from the main window:
// the results pane, the script list, posted commands, the tick count, the beep,
// the send of one typed command and the user's messages.
//
// The Windows front end implements it with the real edit control, list box and
// PostMessage; the command line with standard output and a queue; tests with a
// recording fake on a fake clock. Every call comes from the UI thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/clock.h"

namespace parlex2 {

class UserInterface;

class ShellHost {
 public:
  virtual ~ShellHost() = default;

  // Results pane. Appends `text` at the end of the pane's text; the only way
  // anything is added to the pane.
  virtual void AppendText(std::string_view text) = 0;
  // The pane's whole text.
  virtual std::string ResultsText() = 0;
  // Empties the pane (ID_RESULT_CLEAR).
  virtual void ClearResults() = 0;
  // The length of the pane's text.
  virtual std::size_t ResultsLength() { return ResultsText().size(); }

  // Script list. Lines keep their order; the selection is the index of the
  // next line to run, -1 when no line is selected.
  virtual void ClearScriptList() = 0;  // also removes the selection
  virtual void AddScriptLine(std::string_view line) = 0;
  virtual int ScriptLineCount() = 0;
  // The line's text; empty for an index outside the list.
  virtual std::string ScriptLine(int index) = 0;
  virtual int ScriptSelection() = 0;
  // Selects line `index` and scrolls it into view; -1 removes the selection.
  virtual void SelectScriptLine(int index) = 0;

  // Posts a command to the main window. It is handled after the current timer
  // message and before the next tick of the script engine.
  virtual void PostCommand(int id, int mark = 0) = 0;

  // Milliseconds since an arbitrary start (64 bits: the count never wraps).
  virtual std::uint64_t TickCount() { return GetClock().TickMs(); }

  // The system's simple beep.
  virtual void Beep() = 0;

  // Sends `text` as a typed command (a leading "^X" as the control character,
  // anything else with a line feed). True when the send failed.
  virtual bool SendTypedCommand(std::string_view text) = 0;

  // Message boxes and file choosers.
  virtual UserInterface& Ui() = 0;
};

}  // namespace parlex2
