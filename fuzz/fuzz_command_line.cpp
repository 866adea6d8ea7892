// The program's own command line: any arguments, one per zero-separated piece.
// Only "-d" followed by '1' asks for anything; every other argument is
// ignored, whatever it holds.
#include <cstdint>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "fuzz_check.h"

using namespace parlex2;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> args = fuzz::Pieces(fuzz::AsText(data, size), '\0');
  bool asked = false;
  for (const std::string& arg : args)
    asked |= arg.size() >= 3 && arg[0] == '-' && arg[1] == 'd' && arg[2] == '1';
  FUZZ_CHECK(ParseCommandLine(args).removeDebugFile == asked);
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  FUZZ_CHECK(ParseCommandLine(reversed).removeDebugFile == asked);
  return 0;
}
