// The Connect dialog: how the instrument is reached (USB, LAN or Serial), the
// COM port and baud rate or the IP address, Test, Connect, Save as Default and
// the LAN search. UI thread only.
#pragma once

#include <windows.h>

namespace parlex2::win32 {

// Shows the dialog modally over `owner`, working on the program's one link
// and its settings. A successful Connect leaves the link open and
// `App().link.info.connected` set; Cancel leaves it as it was (settings read
// by Test or Save as Default stay in the link). The caller carries on from the
// connected flag.
void ShowConnectDialog(HWND owner);

}  // namespace parlex2::win32
