#include "app/command_line.h"

#include <string_view>

namespace parlex2 {
namespace {

// "-log" or "--log", alone or followed by "=FILE"; the file (empty when
// none follows the "=") or nullopt for another argument.
std::optional<std::string_view> LogOption(std::string_view arg, bool& needsNext) {
  needsNext = false;
  for (std::string_view name : {"--log", "-log"}) {
    if (arg.substr(0, name.size()) != name) continue;
    std::string_view rest = arg.substr(name.size());
    if (rest.empty()) {
      needsNext = true;
      return rest;
    }
    if (rest.front() == '=') return rest.substr(1);
  }
  return std::nullopt;
}

}  // namespace

CommandLineOptions ParseCommandLine(const std::vector<std::string>& args) {
  CommandLineOptions options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    bool needsNext = false;
    if (auto file = LogOption(arg, needsNext)) {
      if (needsNext) {
        if (i + 1 >= args.size()) break;  // "-log" with nothing after it
        file = args[++i];
      }
      if (!file->empty()) options.commsLogFile = std::string(*file);
      continue;
    }
    if (arg.size() >= 3 && arg.compare(0, 2, "-d") == 0 && arg[2] == '1') {
      options.removeDebugFile = true;
    }
  }
  return options;
}

}  // namespace parlex2
