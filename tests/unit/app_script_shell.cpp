#include <gtest/gtest.h>

#include <string>

#include "app/script_shell.h"

namespace parlex2 {
namespace {

// The script panel's buttons after each press, as the main window shows them.
TEST(ScriptShell, RunStepAndCloseMoveTheStateAndTheButtonsFollow) {
  ShellState state;
  state.scriptState = kScriptStopped;

  RequestStep(state);
  EXPECT_EQ(state.scriptState, kScriptStep);
  RequestStep(state);  // a step is already asked for: nothing more
  EXPECT_EQ(state.scriptState, kScriptStep);

  ToggleRun(state);  // Run from a requested step runs
  EXPECT_EQ(state.scriptState, kScriptRunning);
  ScriptButtons running = ScriptButtonsFor(state.scriptState);
  EXPECT_FALSE(running.stepEnabled);
  EXPECT_FALSE(running.closeEnabled);
  EXPECT_EQ(std::string(running.runText), "Stop");
  RequestStep(state);  // Step does nothing while running
  EXPECT_EQ(state.scriptState, kScriptRunning);

  ToggleRun(state);
  EXPECT_EQ(state.scriptState, kScriptStopped);
  ScriptButtons stopped = ScriptButtonsFor(state.scriptState);
  EXPECT_TRUE(stopped.stepEnabled);
  EXPECT_TRUE(stopped.closeEnabled);
  EXPECT_EQ(std::string(stopped.runText), "Run");

  CloseScript(state);
  EXPECT_EQ(state.scriptState, kScriptNone);
  EXPECT_EQ(std::string(ScriptButtonsFor(kScriptStep).runText), "Run");
}

}  // namespace
}  // namespace parlex2
