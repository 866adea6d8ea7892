// What the program's command line asks for. Only one argument means
// anything: "-d1" (any argument starting "-d" whose third character is '1')
// removes the debug file left by an earlier run before anything else starts.
#pragma once

#include <string>
#include <vector>

namespace parlex2 {

// The debug file "-d1" removes; a missing file is no error.
inline constexpr char kDebugFilePath[] = "c:\\tmp\\parlex2.dbg";

struct CommandLineOptions {
  bool removeDebugFile = false;
};

// `args` are the arguments after the program name; unknown ones are ignored.
CommandLineOptions ParseCommandLine(const std::vector<std::string>& args);

}  // namespace parlex2
