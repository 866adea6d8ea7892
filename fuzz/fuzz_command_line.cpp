// The program's own command line: any arguments, one per zero-separated piece.
// "-d1" (an argument starting "-d" whose third character is '1') asks for the
// debug file to be removed; "-log FILE", "--log FILE", "-log=FILE" and
// "--log=FILE" name the comms log, the argument after "-log" being the file
// whatever it looks like, a later one winning, an empty name none. Everything
// else is ignored.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "fuzz_check.h"

using namespace parlex2;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> args = fuzz::Pieces(fuzz::AsText(data, size), '\0');
  bool removeDebugFile = false;
  std::optional<std::string> log;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    std::optional<std::string> named;
    if (arg == "-log" || arg == "--log") {
      if (i + 1 == args.size()) break;
      named = args[++i];
    } else if (arg.starts_with("-log=") || arg.starts_with("--log=")) {
      named = arg.substr(arg.find('=') + 1);
    }
    if (named) {
      if (!named->empty()) log = named;  // an empty name is no log
    } else if (arg.size() >= 3 && arg[0] == '-' && arg[1] == 'd' && arg[2] == '1') {
      removeDebugFile = true;
    }
  }
  const CommandLineOptions options = ParseCommandLine(args);
  FUZZ_CHECK(options.removeDebugFile == removeDebugFile);
  FUZZ_CHECK(options.commsLogFile.has_value() == log.has_value());
  if (log) FUZZ_CHECK(*options.commsLogFile == *log);
  return 0;
}
