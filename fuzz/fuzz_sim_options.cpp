// The simulator's command line and its endpoint reader: any arguments either
// configure a run with values in their ranges or are refused with a message
// and exit status 2; an endpoint accepted is a dotted IPv4 address of four
// parts 0..255.
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "common/text.h"
#include "fuzz_check.h"
#include "sim/options.h"

using namespace parlex2;
using namespace parlex2::sim;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzz::AsText(data, size);
  std::string address;
  std::uint16_t port = 0;
  if (ParseTcpEndpoint(std::string(text), address, port)) {
    const std::vector<std::string> parts = SplitText(address, '.');
    FUZZ_CHECK(parts.size() == 4 && address.back() != '.');
    for (const std::string& part : parts) {
      FUZZ_CHECK(!part.empty() && part.size() <= 3 &&
                 part.find_first_not_of("0123456789") == std::string::npos && AtoI(part) <= 255);
    }
  }

  std::vector<std::string> args = fuzz::Pieces(text, '\0');
  args.insert(args.begin(), "parlex2-sim");
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  SimOptions options;
  std::ostringstream out;
  std::ostringstream err;
  const int result = ParseSimOptions(static_cast<int>(argv.size()), argv.data(), options, out, err);
  if (result == -1) {
    FUZZ_CHECK(options.tcp || !options.ptyPath.empty());
    FUZZ_CHECK(options.delayMs >= 0 && options.delayMs <= 600000);
    FUZZ_CHECK(options.instrument.dropAfter >= 0);
    FUZZ_CHECK(options.instrument.muteAfter >= -1);
    FUZZ_CHECK(options.instrument.streamRate >= 0 && options.instrument.streamRate <= 1000);
    for (const RecordRefusal& refusal : options.instrument.refusals) {
      FUZZ_CHECK(refusal.record >= 1 && refusal.times >= 0);
    }
  } else {
    FUZZ_CHECK(result == 0 || !err.str().empty() || !out.str().empty());
  }
  return 0;
}
