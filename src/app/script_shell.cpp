#include "app/script_shell.h"

#include <string>

#include "common/command_ids.h"
#include "script/script_engine.h"
#include "script/script_file.h"

namespace parlex2 {

void ToggleRun(ShellState& state) {
  state.scriptState = state.scriptState == kScriptRunning ? kScriptStopped : kScriptRunning;
}

void RequestStep(ShellState& state) {
  if (state.scriptState == kScriptStopped) state.scriptState = kScriptStep;
}

void CloseScript(ShellState& state) { state.scriptState = kScriptNone; }

void ToggleConvertBinary(ShellState& state) { state.convertBinary = !state.convertBinary; }

ScriptButtons ScriptButtonsFor(int scriptState) {
  const bool running = scriptState == kScriptRunning;
  return {!running, !running, running ? "Stop" : "Run"};
}

bool ControlEnabled(int id, bool connected, int scriptState) {
  if (!connected) return false;
  const ScriptButtons buttons = ScriptButtonsFor(scriptState);
  if (id == IDC_STEP) return buttons.stepEnabled;
  if (id == IDC_CLOSE) return buttons.closeEnabled;
  return true;
}

OpenScriptResult OpenScript(ScriptEngine& engine, bool connected) {
  ShellState& state = engine.state();
  if (state.scriptState == kScriptRunning || state.scriptState == kScriptStep || !connected) {
    return OpenScriptResult::Ignored;
  }
  std::string path;
  // Only a file that passed the test replaces the list: loading a failed one
  // would throw away the open script and repeat the test's message.
  if (!SelectScriptFile(engine.host().Ui(), path)) {
    engine.host().PostCommand(ID_FOCUS_COMMAND);
    return OpenScriptResult::NotOpened;
  }
  state.scriptState = kScriptStopped;
  engine.LoadScript(path);
  return OpenScriptResult::Opened;
}

}  // namespace parlex2
