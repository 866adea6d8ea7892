// The Configure menu's "Comms Log..." command: file logging on (asking for
// the file) or off, with the item checked while it is on. UI thread only.
#pragma once

#include <windows.h>

namespace parlex2::win32 {

void OnCommsLog(HWND window, int id, LPARAM mark);

// Sets the item's check mark from the log's state (after start-up, and
// whenever the log may have changed it, e.g. after a file it could not create).
void ShowCommsLogState(HWND window);

}  // namespace parlex2::win32
