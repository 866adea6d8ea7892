// parlex2 set-clock: sets the instrument's clock from this computer's local
// time.
#include <cstdint>

#include "app/instrument_clock.h"
#include "app/terminal.h"
#include "cli/cli.h"
#include "common/clock.h"

namespace parlex2::cli {
namespace {

// The instrument answers each clock command; this waits for the answers
// (without showing them, but into the comms log) until all six came or it has
// been quiet for `quietMs`. False when the connection broke meanwhile: the
// instrument may have dropped the commands still on their way.
bool LinkHeldForTheAnswers(InstrumentLink& link, std::uint32_t quietMs) {
  Clock& clock = GetClock();
  std::uint64_t lastByte = clock.TickMs();
  ReceivedLineAssembler lines;
  ReceivedLineAssembler::Line line;
  int answers = 0;
  while (answers < 6) {
    const int c = link.ReadByte();
    if (c >= 0) {
      lastByte = clock.TickMs();
      answers += c == '\n';
      if (lines.Feed(static_cast<unsigned char>(c), false, line) && !line.raw.empty()) {
        link.LogReceivedLine(line.raw);
      }
      continue;
    }
    if (c == -1) return false;
    const std::uint64_t quiet = clock.TickMs() - lastByte;
    if (quiet >= quietMs) break;
    link.WaitReadable(static_cast<std::uint32_t>(quietMs - quiet));
  }
  return true;
}

int RunSetClock(Context& ctx) {
  InstrumentLink link;
  if (int status = ctx.PrepareLink(link)) return status;
  if (int status = ctx.OpenLink(link)) return status;
  const bool set = SetInstrumentDateTime(link) && LinkHeldForTheAnswers(link, 500);
  link.Close();
  if (!set) {
    PrintError("the clock commands could not all be sent: the instrument closed the connection");
    return kExitConnection;
  }
  return kExitOk;
}

const bool added = RegisterCommand("set-clock", [](CLI::App& app, Context& ctx) {
  app.add_subcommand("set-clock", "set the instrument's clock from this computer's local time")
      ->callback([&ctx] { ctx.exitCode = RunSetClock(ctx); });
});

}  // namespace
}  // namespace parlex2::cli
