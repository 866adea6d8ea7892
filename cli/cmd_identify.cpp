// parlex2 identify: connects to the instrument, identifies it and prints what
// it is, as the information panel shows it or as JSON.
#include <iostream>
#include <string>

#include "app/info_panel.h"
#include "cli/cli.h"
#include "cli/identity_json.h"
#include "common/clock.h"
#include "connect/identify.h"

namespace parlex2::cli {
namespace {

std::string RedOnTerminal(std::string_view text) {
  return "\x1b[1;31m" + std::string(text) + "\x1b[0m";
}
std::string MarkedInText(std::string_view text) { return "WARNING:" + std::string(text); }

int RunIdentify(Context& ctx, bool json) {
  InstrumentLink link;
  if (int status = ctx.PrepareLink(link)) return status;
  link.info.connected = ConnectAndIdentify(ctx.ui, link, true);
  ReportIdentityToParent(link.settings, link.info);
  if (json) {
    std::cout << IdentityJson(link.settings, link.info, GetClock().Now())
                     .dump(-1, ' ', false, kReplaceBadBytes)
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

const bool added = RegisterCommand("identify", [](CLI::App& app, Context& ctx) {
  static bool json = false;
  auto* identify =
      app.add_subcommand("identify", "connect, identify the instrument and show what it is");
  identify->add_flag("--json", json,
                     "print the identity as one JSON object instead of the panel's text");
  identify->callback([&ctx] { ctx.exitCode = RunIdentify(ctx, json); });
});

}  // namespace
}  // namespace parlex2::cli
