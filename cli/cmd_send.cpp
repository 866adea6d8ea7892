// parlex2 send COMMAND...: sends each command as typed at the terminal and
// prints what comes back as the results pane shows it (with --timestamps each
// line begins with the time it was complete), until the instrument has been
// quiet for --quiet milliseconds.
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/terminal.h"
#include "cli/cli.h"
#include "common/clock.h"

namespace parlex2::cli {
namespace {

struct SendOptions {
  std::vector<std::string> commands;
  std::uint32_t quietMs = 500;
  bool raw = false;
  bool timeStamps = false;
};

// Prints every line that arrives until nothing has come for `quietMs`. False
// when the connection broke.
bool PrintReplies(InstrumentLink& link, ReceivedLineAssembler& lines, const SendOptions& options) {
  const std::uint32_t quietMs = options.quietMs;
  Clock& clock = GetClock();
  std::uint64_t lastByte = clock.TickMs();
  ReceivedLineAssembler::Line line;
  for (;;) {
    int c = link.ReadByte();
    if (c >= 0) {
      lastByte = clock.TickMs();
      if (lines.Feed(static_cast<unsigned char>(c), !options.raw, line) && !line.raw.empty()) {
        link.LogReceivedLine(line.raw);
        if (options.timeStamps) std::cout << LineTimeStamp(clock.Now());
        std::cout << line.text << '\n' << std::flush;
      }
      continue;
    }
    if (c == -1) return false;
    const std::uint64_t quiet = clock.TickMs() - lastByte;
    if (quiet >= quietMs) return true;
    link.WaitReadable(static_cast<std::uint32_t>(quietMs - quiet));
  }
}

int RunSend(Context& ctx, const SendOptions& options) {
  InstrumentLink link;
  if (int status = ctx.PrepareLink(link)) return status;
  if (int status = ctx.OpenLink(link)) return status;
  ReceivedLineAssembler lines;
  for (const auto& command : options.commands) {
    if (SendTypedCommand(link, command)) {
      PrintError("Comms Failed - the connection will be closed");
      return kExitConnection;
    }
    if (!PrintReplies(link, lines, options)) {
      PrintError("the instrument closed the connection");
      return kExitConnection;
    }
  }
  return kExitOk;
}

const bool added = RegisterCommand("send", [](CLI::App& app, Context& ctx) {
  auto options = std::make_shared<SendOptions>();
  auto* sub = app.add_subcommand("send", "send commands and print the replies");
  sub->add_option("COMMAND", options->commands,
                  "a command as typed at the terminal (^X sends the control character X)")
      ->required();
  sub->add_option("--quiet", options->quietMs,
                  "milliseconds without a byte after which the replies are complete (default 500)");
  sub->add_flag("--raw", options->raw, "show binary values as received, unconverted");
  sub->add_flag("--timestamps", options->timeStamps,
                "begin each line with the computer's time it was complete, HH:MM:SS.mmm");
  sub->callback([&ctx, options] { ctx.exitCode = RunSend(ctx, *options); });
});

}  // namespace
}  // namespace parlex2::cli
