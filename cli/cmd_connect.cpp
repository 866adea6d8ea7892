// parlex2 identify, find, set-clock and save-default: connecting to and
// identifying an instrument, finding instruments on the subnet, setting the
// instrument's clock, and the saved default connection the other commands use
// when no connection option is given.
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "app/connection_defaults.h"
#include "app/info_panel.h"
#include "app/instrument_clock.h"
#include "app/settings.h"
#include "app/terminal.h"
#include "cli/cli.h"
#include "cli/identity_json.h"
#include "common/clock.h"
#include "connect/identify.h"
#include "connect/lan_search.h"
#include "link/discovery.h"

namespace parlex2::cli {
namespace {

std::string RedOnTerminal(std::string_view text) {
  return "\x1b[1;31m" + std::string(text) + "\x1b[0m";
}
std::string MarkedInText(std::string_view text) { return "WARNING:" + std::string(text); }

// An instrument's reply may hold bytes that are no UTF-8: shown replaced.
constexpr auto kReplaceBadBytes = nlohmann::json::error_handler_t::replace;

int RunIdentify(Context& ctx, bool json) {
  InstrumentLink link;
  if (int status = ctx.PrepareLink(link)) return status;
  link.info.connected = ConnectAndIdentify(ctx.ui, link, true);
  ReportIdentityToParent(link.settings, link.info);
  if (json) {
    std::cout << IdentityJson(link.settings, link.info, GetClock().Now()).dump(-1, ' ', false, kReplaceBadBytes)
              << std::endl;
    link.Close();
    return link.info.connected ? kExitOk : kExitConnection;
  }
  const auto spans = BuildInfoPanel(link.settings, link.info, GetClock().Now());
  std::string text =
      RenderInfoPanelText(spans, StandardOutputIsTerminal() ? RedOnTerminal : MarkedInText);
  if (text.empty() || text.back() != '\n') text += '\n';
  std::cout << text << std::flush;
  link.Close();
  return link.info.connected ? kExitOk : kExitConnection;
}

int RunFind(Context& ctx, bool json) {
  ctx.ApplyLog();
  std::vector<FoundInstrument> found;
  if (LanFindInstruments(found, kFoundListCapacity) <= 0) {
    if (json) {
      std::cout << "[]" << std::endl;
      PrintError("No Instruments found on this subnet");
    } else {
      std::cout << "No Instruments found on this subnet" << std::endl;
    }
    return kExitConnection;
  }
  if (json) {
    const auto rows = ProbeFoundInstruments(ctx.ui, found).rows;
    std::cout << FoundJson(found, rows).dump(2, ' ', false, kReplaceBadBytes) << std::endl;
    return kExitOk;
  }
  for (const auto& row : ProbeFoundInstruments(ctx.ui, found).rows) {
    std::cout << row.text << '\n';
  }
  std::cout << std::flush;
  return kExitOk;
}

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

int RunSaveDefault(Context& ctx) {
  if (!ctx.connection.Given()) {
    PrintError("save-default needs --lan, --usb or --serial");
    return kExitUsage;
  }
  InstrumentLink link;
  std::string error;
  if (!ctx.ConfigureLink(link, error)) {
    PrintError(error);
    return kExitUsage;
  }
  // The settings folder is made as needed; a file that still cannot be
  // written leaves no default for the next command, which must be said.
  if (!SettingsConnectionDefaults(*OpenDefaultSettings(GetClock().Now())).Save(link.settings)) {
    PrintError("cannot write the settings file " + SettingsIniPath() +
               ": the connection was not saved as the default");
    return kExitConnection;
  }
  return kExitOk;
}

bool LoadSavedDefault(ConnectionSettings& settings) {
  const SettingsFile file = DefaultSettingsFile();
  if (std::FILE* f = std::fopen(file.path.c_str(), "rb")) {
    std::fclose(f);
  } else {
    return false;
  }
  auto store = OpenSettingsStore(file.path);
  return SettingsConnectionDefaults(*store).Load(settings);
}

const bool loaderSet = (SetDefaultConnectionLoader(LoadSavedDefault), true);

const bool added = RegisterCommand([](CLI::App& app, Context& ctx) {
  static bool identifyJson = false;
  auto* identify =
      app.add_subcommand("identify", "connect, identify the instrument and show what it is");
  identify->add_flag("--json", identifyJson,
                     "print the identity as one JSON object instead of the panel's text");
  identify->callback([&ctx] { ctx.exitCode = RunIdentify(ctx, identifyJson); });
  static bool findJson = false;
  auto* find = app.add_subcommand("find", "find instruments on this subnet and ask each who it is");
  find->add_flag("--json", findJson,
                 "print the instruments found as a JSON list of {address, identity, probe}");
  find->callback([&ctx] { ctx.exitCode = RunFind(ctx, findJson); });
  app.add_subcommand("set-clock", "set the instrument's clock from this computer's local time")
      ->callback([&ctx] { ctx.exitCode = RunSetClock(ctx); });
  app.add_subcommand("save-default",
                     "save the connection options as the default (as \"Save as Default\" does)")
      ->callback([&ctx] { ctx.exitCode = RunSaveDefault(ctx); });
});

}  // namespace
}  // namespace parlex2::cli
