// The operating system's debugger output channel: OutputDebugString on
// Windows, standard error elsewhere. A front end may send it somewhere else.
#pragma once

#include <string_view>

namespace parlex2 {

void DebugOutput(std::string_view text);

// Where DebugOutput sends text from now on; null restores the system's
// channel. The command line, for one, shows the trace only when asked to.
using DebugOutputSink = void (*)(std::string_view text);
void SetDebugOutputSink(DebugOutputSink sink);

// The system's channel itself (debug_output_win32.cpp, debug_output_posix.cpp).
void SystemDebugOutput(std::string_view text);

}  // namespace parlex2
