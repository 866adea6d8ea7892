// "Upgrade Firmware" (dialog 152): starts the upgrade worker on its own thread
// as soon as it opens and shows its status, progress and log. Cancel stays
// disabled while the worker runs and reads "Finished" after. UI thread only;
// the worker reaches the dialog only by posted messages.
#pragma once

#include <windows.h>

namespace parlex2 {
struct UpgradeDescriptor;
}

namespace parlex2::win32 {

// Runs the worker over `descriptor` on the program's link, modal over
// `owner`, until the user closes the dialog after the worker has ended. A
// LAN link is opened again after a successful upgrade.
void ShowUpgradeProgress(HWND owner, UpgradeDescriptor& descriptor);

}  // namespace parlex2::win32
