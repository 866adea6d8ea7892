// The script's "#" commands: pacing, waiting for replies, text into the results
// pane, the beep, clearing the pane, binary conversion and printing the pane to
// a file. A "#" line whose word is no keyword is a comment.
#pragma once

#include <string_view>

namespace parlex2 {

class ScriptEngine;

// Milliseconds named by a line's argument: the whole seconds after its first
// comma, 1 to 500; 1 second without a comma, below 1 or not a number.
int ParseSecondsArgument(std::string_view line);

// Runs one "#" line. Returns the extra delay before the next line (ms).
int RunScriptCommand(std::string_view line, ScriptEngine& engine);

// True for a "#" line that begins with one of the twelve keywords; any other
// "#" line is a comment.
bool IsScriptCommand(std::string_view line);

}  // namespace parlex2
