#include <gtest/gtest.h>

#include <string>

#include "app/script_shell.h"
#include "common/command_ids.h"

namespace parlex2 {
namespace {

TEST(ScriptShell, RunStepAndCloseMoveTheState) {
  struct Case {
    int from;
    void (*press)(ShellState&);
    int to;
  };
  const Case cases[] = {
      {kScriptStep, RequestStep, kScriptStep},        // a step is already asked for
      {kScriptStep, ToggleRun, kScriptRunning},       // Run from a requested step runs
      {kScriptRunning, RequestStep, kScriptRunning},  // Step does nothing while running
      {kScriptStopped, CloseScript, kScriptNone},
  };
  for (const Case& c : cases) {
    ShellState state;
    state.scriptState = c.from;
    c.press(state);
    EXPECT_EQ(state.scriptState, c.to) << "from " << c.from;
  }
}

// The script panel's buttons and the window's controls in each state: none
// enabled while not connected; Step and Close off while a script runs.
TEST(ScriptShell, ButtonsAndControlsFollowTheState) {
  constexpr int kControls[] = {IDC_RESULTS,     IDC_INFO, IDC_COMMAND, IDC_SEND,
                               IDC_SCRIPT_LIST, IDC_RUN,  IDC_STEP,    IDC_CLOSE};
  struct Case {
    int state;
    const char* runText;
    bool stepAndClose;
  };
  const Case cases[] = {{kScriptNone, "Run", true},
                        {kScriptStopped, "Run", true},
                        {kScriptRunning, "Stop", false},
                        {kScriptStep, "Run", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state);
    const ScriptButtons buttons = ScriptButtonsFor(c.state);
    EXPECT_EQ(std::string(buttons.runText), c.runText);
    for (int id : kControls) {
      const bool stepOrClose = id == IDC_STEP || id == IDC_CLOSE;
      EXPECT_EQ(ControlEnabled(id, true, c.state), !stepOrClose || c.stepAndClose) << id;
      EXPECT_FALSE(ControlEnabled(id, false, c.state)) << id;
    }
  }
}

}  // namespace
}  // namespace parlex2
