// parlex2 save-default: saves the connection options as the default, and
// reads that default back for the commands given no connection option.
#include <cstdio>
#include <memory>
#include <string>

#include "app/connection_defaults.h"
#include "app/settings.h"
#include "cli/cli.h"
#include "common/clock.h"

namespace parlex2::cli {
namespace {

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

const bool added = RegisterCommand("save-default", [](CLI::App& app, Context& ctx) {
  app.add_subcommand("save-default",
                     "save the connection options as the default (as \"Save as Default\" does)")
      ->callback([&ctx] { ctx.exitCode = RunSaveDefault(ctx); });
});

}  // namespace
}  // namespace parlex2::cli
