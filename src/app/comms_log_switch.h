// The user's switch for the comms log file: the menu command that turns file
// logging on (asking where) and off, and the command line's start with logging
// on. Entries are appended to the file; the program never truncates it.
#pragma once

#include <string_view>

namespace parlex2 {

class UserInterface;

// Longest log file path the comms log keeps.
inline constexpr std::size_t kCommsLogPathMax = 259;

// Logging on: turns it off (the file stays chosen for next time). Logging off:
// asks for the log file with the save dialog, offering the last one, and turns
// logging on to it; a cancelled dialog leaves it off. Returns whether logging
// is on afterwards, for the menu's check mark.
bool ToggleCommsLogFile(UserInterface& ui);

// Turns logging on to `path`. A path the log cannot keep whole (empty, or
// longer than kCommsLogPathMax) would send the entries to some other file, so
// it is refused: false, logging stays as it was.
bool StartCommsLogFile(std::string_view path);

}  // namespace parlex2
