// The main window "OVParlexWClass": its class, its creation, and the command
// table its menu, accelerators, child controls and other features drive it
// through. UI thread only.
#pragma once

#include <windows.h>

#include "app/settings.h"
#include "app/shell.h"

namespace parlex2::win32 {

inline constexpr char kMainWindowClass[] = "OVParlexWClass";

bool RegisterMainWindowClass(HINSTANCE instance);

// Creates the main window with `size` (outer) at the system's default place,
// titled with the base title. Null on failure.
HWND CreateMainWindow(HINSTANCE instance, WindowSize size);

// The main window's shell while the window exists, else null.
Shell* MainShell();

// Stops the poll timer if it runs (at shutdown).
void StopPollTimer(HWND window);

// A command only the window carries out (a dialog of its own). `param` is the
// command message's second parameter.
using CommandHandler = void (*)(HWND window, int id, LPARAM param);

// Runs command `id`: the window's own commands (main_window_commands.cpp),
// then the shell's table, which tells a posted mark from a control's handle.
// False when `id` is not a command of the main window.
bool RunCommand(HWND window, int id, LPARAM param);

}  // namespace parlex2::win32
