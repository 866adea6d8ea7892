#include "app/command_line.h"

namespace parlex2 {

CommandLineOptions ParseCommandLine(const std::vector<std::string>& args) {
  CommandLineOptions options;
  for (const std::string& arg : args) {
    if (arg.size() >= 3 && arg.compare(0, 2, "-d") == 0 && arg[2] == '1') {
      options.removeDebugFile = true;
    }
  }
  return options;
}

}  // namespace parlex2
