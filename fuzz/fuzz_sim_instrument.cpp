// The simulator's command interpreter under any bytes a client may send, with
// a configuration taken from the input.
//
// Properties: what it answers does not depend on how the bytes were split into
// reads; without noise every answer is whole CR LF lines; the replies stay
// within a fixed multiple of the input; the clock only ever holds values in
// range; after any input a fresh connection outside the boot loader is still
// answered *IDN?.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "sim/instrument.h"

using namespace parlex2::sim;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  InstrumentConfig config;
  const int personality = input.ConsumeIntegralInRange(0, 5);  // mostly normal
  config.personality = personality == 1   ? Personality::kBootcode
                       : personality == 2 ? Personality::kSilent
                                          : Personality::kNormal;
  config.ok = input.ConsumeBool() ? "ok" : "OK";
  config.noise = input.ConsumeIntegralInRange(0, 3) == 0;
  config.dropAfter =
      input.ConsumeIntegralInRange(0, 3) == 0 ? input.ConsumeIntegralInRange(1, 20) : 0;
  config.muteAfter =
      input.ConsumeIntegralInRange(0, 3) == 0 ? input.ConsumeIntegralInRange(0, 20) : -1;
  config.streamRate = input.ConsumeBool() ? 10 : 0;
  if (input.ConsumeIntegralInRange(0, 3) == 0) {
    config.refusals.push_back(
        {input.ConsumeIntegralInRange(1, 5), input.ConsumeIntegralInRange(0, 3)});
  }
  const std::size_t piece = input.ConsumeIntegralInRange<std::size_t>(1, 64);
  const std::string bytes = input.ConsumeBytesAsString(input.remaining_bytes());

  Instrument whole(config);
  const Instrument::Reaction all = whole.Receive(bytes);
  Instrument split(config);
  std::string sent;
  bool closed = false;
  for (std::size_t at = 0; at < bytes.size(); at += piece) {
    Instrument::Reaction reaction = split.Receive(std::string_view(bytes).substr(at, piece));
    sent += reaction.send;
    closed = reaction.close;
    if (split.Streaming()) split.StreamLine();  // streamed lines never change the answers
    whole.StreamLine();
  }
  FUZZ_CHECK(sent == all.send);
  FUZZ_CHECK(closed == all.close || bytes.empty());
  FUZZ_CHECK(split.InBootLoader() == whole.InBootLoader());
  FUZZ_CHECK(split.GetFlash() == whole.GetFlash());
  if (!config.noise) FUZZ_CHECK(all.send.empty() || all.send.ends_with("\r\n"));
  // Replies answer lines and the wake, erase, "z" and restart bytes, none
  // longer than the boot loader's banner with noise: the input bounds them.
  FUZZ_CHECK(all.send.size() <= 40 * bytes.size());
  constexpr int kMaximum[] = {23, 59, 59, 31, 11, 99};
  for (std::size_t i = 0; i < 6; ++i) {
    const int value = whole.ClockFields()[i];
    FUZZ_CHECK(value == -1 || (value >= (i == 3 ? 1 : 0) && value <= kMaximum[i]));
  }

  if (!whole.InBootLoader() && config.personality != Personality::kSilent && config.muteAfter < 0) {
    whole.NewConnection();
    const Instrument::Reaction reply = whole.Receive("\x1b*IDN?\n");
    const std::string expected =
        (config.personality == Personality::kBootcode ? std::string(kBootcodeSignature)
                                                      : config.idn) +
        "\r\n";
    FUZZ_CHECK(reply.send.starts_with(expected));
  }
  return 0;
}
