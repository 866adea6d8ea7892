// The program's own command line: any arguments, one per zero-separated piece.
// "-d" followed by '1' asks for the debug file's removal; "-log FILE",
// "-log=FILE" (or "--log") start the comms log; every other argument is
// ignored, whatever it holds.
#include <cstdint>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "fuzz_check.h"

using namespace parlex2;

namespace {

bool AsksDebugRemoval(const std::string& arg) {
  return arg.size() >= 3 && arg[0] == '-' && arg[1] == 'd' && arg[2] == '1';
}

bool IsBareLogOption(const std::string& arg) { return arg == "-log" || arg == "--log"; }

// The log file came from the arguments: a whole argument, or what follows
// "-log=" / "--log=" in one.
bool NamedByArguments(const std::string& file, const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == file || arg == "-log=" + file || arg == "--log=" + file) return true;
  }
  return false;
}

void Check(const std::vector<std::string>& args) {
  bool asked = false;
  bool bareLog = false;
  for (const std::string& arg : args) {
    asked |= AsksDebugRemoval(arg);
    bareLog |= IsBareLogOption(arg);
  }
  const CommandLineOptions options = ParseCommandLine(args);
  // Never asked for what no argument says; and without a bare log option
  // (whose next argument is its file, whatever it holds) nothing is missed.
  FUZZ_CHECK(!options.removeDebugFile || asked);
  if (!bareLog) FUZZ_CHECK(options.removeDebugFile == asked);
  if (options.commsLogFile) {
    FUZZ_CHECK(!options.commsLogFile->empty());
    FUZZ_CHECK(NamedByArguments(*options.commsLogFile, args));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> args = fuzz::Pieces(fuzz::AsText(data, size), '\0');
  Check(args);
  Check(std::vector<std::string>(args.rbegin(), args.rend()));
  return 0;
}
