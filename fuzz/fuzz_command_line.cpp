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
    asked |= arg.starts_with("-d1");
    bareLog |= arg == "-log" || arg == "--log";
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
