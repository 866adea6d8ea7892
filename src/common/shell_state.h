// The shell's values shared by the terminal's poller, the script engine and
// (for polling) the firmware upgrade. The shell owns one and hands it to each;
// it lives here, below every layer that needs it, because the script engine
// and the upgrade sit below the shell's own layer.
//
// Used on the UI thread only (the upgrade clears pollingEnabled before its
// worker starts and restores it after the worker has ended).
#pragma once

#include <optional>
#include <string>

namespace parlex2 {

// Values of ShellState::scriptState.
inline constexpr int kScriptNone = 0;     // no script shown
inline constexpr int kScriptStopped = 1;  // loaded and stopped
inline constexpr int kScriptRunning = 2;  // one line per due time
inline constexpr int kScriptStep = 3;     // the next tick runs exactly one line

struct ShellState {
  int scriptState = kScriptNone;
  // Characters of received lines shown by the poller. The script engine sets
  // it to 0 when it starts waiting for a reply and again each time it has
  // seen a reply line (keeping apart that one was seen).
  int receivedCount = 0;
  bool convertBinary = true;    // the "Convert Binary" menu item, checked at start
  bool pollingEnabled = false;  // the poller may read the link
  // The last non-empty line the poller received, as the pane shows it
  // (binary values converted while convertBinary is on) but without anything
  // the pane adds around it. The script engine empties it when it sends a
  // command and when a run starts; "=reply" reads a number from it.
  std::optional<std::string> lastReceivedLine;
  // The "Time Stamps" menu item: received lines and echoed commands begin
  // with the computer's time (LineTimeStamp).
  bool timeStamps = false;
};

}  // namespace parlex2
