// What the program's command line asks for:
//   "-d1"  (any argument starting "-d" whose third character is '1') removes
//          the debug file left by an earlier run before anything else starts;
//   "-log FILE", "--log FILE", "-log=FILE" or "--log=FILE" starts with the
//          comms log written to FILE (the argument after "-log" is the file,
//          whatever it looks like; a later one wins).
// Anything else is ignored.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace parlex2 {

// The debug file "-d1" removes; a missing file is no error.
inline constexpr char kDebugFilePath[] = "c:\\tmp\\parlex2.dbg";

struct CommandLineOptions {
  bool removeDebugFile = false;
  std::optional<std::string> commsLogFile;
};

// `args` are the arguments after the program name; unknown ones are ignored.
CommandLineOptions ParseCommandLine(const std::vector<std::string>& args);

}  // namespace parlex2
