// "Firmware Files List" (dialog 151): the Proposed Operation in a read-only
// rich edit, with Accept (disabled while the list cannot be accepted) and
// Cancel. UI thread only.
#pragma once

#include <windows.h>

#include <string>

namespace parlex2::win32 {

// Shows `rtf` modally over `owner`. True only when the user pressed Accept,
// which is never possible while `acceptBlocked` is set.
bool ShowFirmwareFilesList(HWND owner, const std::string& rtf, bool acceptBlocked);

}  // namespace parlex2::win32
