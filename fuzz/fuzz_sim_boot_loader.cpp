// The simulated boot loader under any bytes, and the flash dump it writes.
//
// Properties: every answer is the configured success text or a short refusal
// beginning "ERR", and after any input the access code is still answered;
// nothing reaches the flash before the loader is unlocked and a sector
// chosen; the dump reads back as the same flash, and a dump read from any
// text writes back as what was read.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "sim/boot_loader.h"
#include "sim/flash.h"

using namespace parlex2::sim;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  BootLoaderConfig config;
  config.ok = input.ConsumeBool() ? "ok" : "Ok";
  if (input.ConsumeBool()) {
    config.refusals.push_back(
        {input.ConsumeIntegralInRange(1, 8), input.ConsumeIntegralInRange(0, 3)});
  }
  const bool unlockFirst = input.ConsumeBool();
  const std::string bytes = input.ConsumeBytesAsString(input.remaining_bytes());

  Flash flash;
  BootLoader loader(flash, config);
  loader.Start();
  const Flash blank = flash;
  std::string stream =
      unlockFirst ? std::string("C7D2z\n") + kSectorCodes[0] + "\n" + bytes : bytes;
  bool unlocked = false;
  for (char c : stream) {
    const BootLoader::Step step = loader.Feed(static_cast<unsigned char>(c));
    if (step.event == BootLoader::Event::kReply) {
      FUZZ_CHECK(step.reply == config.ok || step.reply.starts_with("ERR"));
      FUZZ_CHECK(step.reply.size() < 40);
      FUZZ_CHECK(!step.reply.starts_with("ERR") || !step.reply.ends_with("ok"));
      if (step.reply == config.ok) unlocked = true;
    }
    if (!unlocked) FUZZ_CHECK(flash == blank);
    FUZZ_CHECK(loader.SelectedSector() >= -1 && loader.SelectedSector() < Flash::kSectorCount);
    if (step.event == BootLoader::Event::kRestarted) loader.Start();
  }
  // Whatever came before, a line end and the access code are answered.
  std::string last;
  for (char c : std::string("\r\nC7D2z\n", 8) + '\0') {
    const BootLoader::Step step = loader.Feed(static_cast<unsigned char>(c));
    if (step.event == BootLoader::Event::kReply) last = step.reply;
  }
  FUZZ_CHECK(last == config.ok);

  const std::optional<Flash> back = Flash::ParseDump(flash.Dump());
  FUZZ_CHECK(back && *back == flash);

  const std::optional<Flash> read = Flash::ParseDump(bytes);
  if (read) {
    const std::optional<Flash> again = Flash::ParseDump(read->Dump());
    FUZZ_CHECK(again && *again == *read);
  }
  return 0;
}
