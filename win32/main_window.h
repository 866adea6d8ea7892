// The main window "OVParlexWClass": its class, its creation, and the command
// table its menu, accelerators, child controls and other features drive it
// through. UI thread only.
#pragma once

#include <windows.h>

#include "app/settings.h"

namespace parlex2::win32 {

inline constexpr char kMainWindowClass[] = "OVParlexWClass";

bool RegisterMainWindowClass(HINSTANCE instance);

// Creates the main window with `size` (outer) at the system's default place,
// titled with the base title. Null on failure.
HWND CreateMainWindow(HINSTANCE instance, WindowSize size);

// Stops the poll timer if it runs (at shutdown).
void StopPollTimer(HWND window);

// One command of the main window. `mark` is the command message's second
// parameter: ID_CONFIGURE_CONNECTION and ID_DISCONNECT look at it (1: posted
// by the program itself after a read failure), the others ignore it.
using CommandHandler = void (*)(HWND window, int id, LPARAM mark);

// Runs command `id` through the command table (main_window_commands.cpp).
// False when `id` is not a command of the main window.
bool RunCommand(HWND window, int id, LPARAM mark);

}  // namespace parlex2::win32
