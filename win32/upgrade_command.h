// Instrument > Upgrade Firmware... (ID_UPGRADE_FIRMWARE): the core's upgrade
// command with the two upgrade dialogs and the program's link. UI thread only.
#pragma once

#include <windows.h>

namespace parlex2 {
struct ShellState;
}

namespace parlex2::win32 {

// Runs the whole command over the main window `window`. Polling stays off in
// `state` until the command ends, and the command is refused while a script
// runs or steps.
void RunUpgradeFirmware(HWND window, ShellState& state);

}  // namespace parlex2::win32
