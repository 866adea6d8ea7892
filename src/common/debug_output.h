// The operating system's debugger output channel: OutputDebugString on
// Windows, standard error elsewhere.
#pragma once

#include <string_view>

namespace parlex2 {

void DebugOutput(std::string_view text);

}  // namespace parlex2
