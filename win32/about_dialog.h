// The About box: product name and version, closed by OK, Escape or the close
// box.
#pragma once

#include <windows.h>

namespace parlex2::win32 {

// Modal; returns when the box is closed. Like every dialog it owns what the
// program shows while it is open, such as the poll's read-failure question.
void ShowAboutBox(HWND owner);

}  // namespace parlex2::win32
