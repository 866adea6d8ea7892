// parlex2 find: finds the instruments on this subnet and asks each who it is.
#include <iostream>
#include <vector>

#include "cli/cli.h"
#include "cli/identity_json.h"
#include "connect/lan_search.h"
#include "link/discovery.h"

namespace parlex2::cli {
namespace {

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

const bool added = RegisterCommand("find", [](CLI::App& app, Context& ctx) {
  static bool json = false;
  auto* find = app.add_subcommand("find", "find instruments on this subnet and ask each who it is");
  find->add_flag("--json", json,
                 "print the instruments found as a JSON list of {address, identity, probe}");
  find->callback([&ctx] { ctx.exitCode = RunFind(ctx, json); });
});

}  // namespace
}  // namespace parlex2::cli
