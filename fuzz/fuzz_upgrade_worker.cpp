// The upgrade worker's reading of firmware records and its exchange with a
// boot loader: any firmware file, written through the simulator's boot loader
// (some records refused, the success reply in either case, noise) on a fake
// link and clock.
//
// Properties: the text-mode reader gives the file back piece by piece (CR LF
// as LF, nothing after 0x1A, no piece longer than asked); the worker always
// ends with exactly one Finished and its progress only grows within a phase
// (each phase starts again at 0) and never passes 100; an upgrade reported as succeeded left the
// whole flash as the file's image in its sector makes it (erased once, unless OVER).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "support/fake_clock.h"
#include "support/upgrade_support.h"
#include "upgrade/upgrade_worker.h"

using namespace parlex2;

namespace {

std::string TextMode(const std::string& bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\x1a') break;
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    out += bytes[i];
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  sim::InstrumentConfig config;
  config.ok = input.ConsumeBool() ? "ok" : "OK";
  config.noise = input.ConsumeIntegralInRange(0, 3) == 0;
  if (input.ConsumeBool()) {
    config.refusals.push_back(
        {input.ConsumeIntegralInRange(1, 4), input.ConsumeIntegralInRange(1, 4)});
  }
  const int sector = input.ConsumeIntegralInRange(0, 3);
  const bool over = input.ConsumeIntegralInRange(0, 4) == 0;
  const std::size_t limit = input.ConsumeIntegralInRange<std::size_t>(1, 600);
  const std::string file = input.ConsumeBytesAsString(input.remaining_bytes());

  TextModeReader reader(file);
  std::string line;
  std::string joined;
  while (reader.ReadLine(line, limit)) {
    FUZZ_CHECK(!line.empty() && line.size() <= limit);
    joined += line;
  }
  FUZZ_CHECK(joined == TextMode(file));

  parlex2::testing::FakeClock clock;
  static const parlex2::testing::TempFolder scratch;  // removed when the run ends
  parlex2::testing::WorkerRun run(scratch, config);
  FUZZ_CHECK(run.opened);
  run.Add(sector, "f.hex", file, over);
  run.Run();

  FUZZ_CHECK(run.progress.finished == 1);
  int last = 0;
  for (int percent : run.progress.percents) {
    FUZZ_CHECK(percent >= 0 && percent <= 100);
    FUZZ_CHECK(percent >= last || percent == 0);  // each phase counts from 0
    last = percent;
  }
  const auto expected = parlex2::testing::FlashAfter({{sector, over ? 0 : 1, TextMode(file)}});
  if (run.descriptor.upgradeSucceeded && expected) FUZZ_CHECK(run.Flash() == *expected);
  return 0;
}
