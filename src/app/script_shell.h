// The main window's script commands: what the script panel's buttons and the
// Script menu item do to the shell state. The window binds them to its
// controls (button texts, enabling, the panel switch); the command line calls
// them for the commands the engine posts.
#pragma once

#include "common/shell_state.h"

namespace parlex2 {

class ScriptEngine;

// IDC_RUN (the Run/Stop button, and the engine's stop request): stopped when
// running, running otherwise.
void ToggleRun(ShellState& state);

// IDC_STEP: one step from a stopped script; nothing in any other state.
void RequestStep(ShellState& state);

// IDC_CLOSE: no script shown (the list keeps its lines).
void CloseScript(ShellState& state);

// ID_CONVERT_BINARY: the switch flips (the window sets the check mark to match).
void ToggleConvertBinary(ShellState& state);

// How the script panel's buttons look in a state.
struct ScriptButtons {
  bool stepEnabled;
  bool closeEnabled;
  const char* runText;  // "Stop" while running, "Run" otherwise
};
ScriptButtons ScriptButtonsFor(int scriptState);

// Whether the main window's control `id` is enabled: none while not
// connected; while connected every one, except Step and Close while a script
// runs. The shell applies it on every change of either.
bool ControlEnabled(int id, bool connected, int scriptState);

enum class OpenScriptResult {
  Ignored,    // running, stepping or not connected: nothing happened
  NotOpened,  // cancelled, or the file failed the script-file test
  Opened,     // the chosen file is loaded into the script list
};

// ID_SCRIPT: lets the user choose a script file and loads it. A file that fails
// the script-file test is reported once and leaves an open script as it was.
// Unless ignored, the window then switches the script panel to the state, and
// ID_FOCUS_COMMAND has been posted when no script was opened.
OpenScriptResult OpenScript(ScriptEngine& engine, bool connected);

}  // namespace parlex2
