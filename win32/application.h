// Start-up and shutdown of Parlex2.exe, and the few things kept for the whole
// run. Everything here runs on the UI thread.
#pragma once

#include <windows.h>

#include "app/settings.h"
#include "link/instrument_link.h"
#include "win32_ui.h"

namespace parlex2::win32 {

struct Application {
  HINSTANCE instance = nullptr;
  HWND mainWindow = nullptr;
  InstrumentLink link;   // the program's one link to the instrument
  WindowSize reference;  // outer size the layout measures growth against
  RestoredWindowSize restored;
  Win32Ui ui;            // messages, wait cursor and file dialogs for the core
};

// The one application object.
Application& App();

// The whole program: command line, settings, main window, message loop.
// Returns the quit message's code (0), or 0 when the window cannot be made.
int RunApplication(HINSTANCE instance, int showCommand);

// The way out, run by the main window's destruction: the window size saved
// when valid and changed, the poll timer stopped, the link closed, the message
// loop ended.
void ShutDown(HWND window);

WindowSize ScreenSize();

}  // namespace parlex2::win32
