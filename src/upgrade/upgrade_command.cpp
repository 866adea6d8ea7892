#include "upgrade/upgrade_command.h"

#include "common/clock.h"
#include "common/product.h"
#include "common/shell_state.h"
#include "common/text.h"
#include "common/ui.h"
#include "connect/identify.h"
#include "connect/model_table.h"
#include "link/instrument_link.h"
#include "upgrade/firmware_list_rtf.h"
#include "upgrade/main_hex_route.h"
#include "upgrade/upgrade_checks.h"

namespace parlex2 {
namespace {

constexpr std::uint32_t kReconnectPauseMs = 200;
constexpr std::int32_t kSerialOnlyGroup = 7;  // ZQM71, ZQM44, GKK-UX, MKK-UX

constexpr char kLanSerialOnly[] =
    "ZQM7133 and ZQMM7186 instruments can only upgrade firmware using a serial connection";
constexpr char kVersionUnreadable[] =
    "Error communicating with instrument, unable to determine instrument internal version";
constexpr char kNoUsableTarget[] = "Error reading firmware, unable to determine firmware target";
constexpr char kIncompatible[] =
    "The connected instrument is incompatible with the selected firmware";

// Polling off for the command's lifetime, back as it was on every way out.
class PollingOff {
 public:
  explicit PollingOff(ShellState& state) : state_(state), was_(state.pollingEnabled) {
    state_.pollingEnabled = false;
  }
  ~PollingOff() { state_.pollingEnabled = was_; }
  PollingOff(const PollingOff&) = delete;
  PollingOff& operator=(const PollingOff&) = delete;

 private:
  ShellState& state_;
  bool was_;
};

std::string LowerExtension(const std::string& path) {
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos) return {};
  return LowerCase(std::string_view(path).substr(dot + 1));
}

bool Reidentify(UpgradeCommandContext& c) {
  c.link.Close();
  c.clock.SleepMs(kReconnectPauseMs);
  return ConnectAndIdentify(c.ui, c.link, false);
}

// After a complete upgrade the instrument restarts into its new firmware: a
// LAN instrument drops its connection and takes a while to listen again. The
// link is opened afresh, tried for as long as identification would ask, and
// the instrument identified, so its new identity is what is shown.
bool ReconnectAfterRestart(UpgradeCommandContext& c) {
  c.link.Close();
  for (int attempt = 0; attempt < kIdnAttempts; ++attempt) {
    c.clock.SleepMs(kIdentifyReadTimeoutMs);
    if (c.link.Open() == 0) return ConnectAndIdentify(c.ui, c.link, false);
  }
  return false;
}

UpgradeResult Refused(RefusalReason reason) { return {UpgradeOutcome::Refused, reason}; }

UpgradeResult Run(UpgradeCommandContext& c) {
  std::string path;
  if (c.path) {
    path = *c.path;
  } else {
    std::optional<std::string> chosen = c.ui.ChooseFileToOpen(UpgradeFileDialogOptions());
    if (!chosen || chosen->empty()) return {UpgradeOutcome::Cancelled, RefusalReason::None};
    path = *chosen;
  }
  // Cut short, the path would name another file or none.
  if (path.size() > kUpgradePathMax) {
    c.ui.ShowMessage(kNoLoadLines, kUpgradeCaption, MessageIcon::Information, MessageButtons::Ok);
    return Refused(RefusalReason::PathTooLong);
  }

  UpgradeDescriptor descriptor;
  LoadTable tables[2];
  bool acceptBlocked = false;
  ScopedWaitCursor wait(c.ui);
  InstrumentInfo& info = c.link.info;
  const bool lan = c.link.settings.interfaceKind == InterfaceKind::Lan;

  // Make sure of the instrument: identify it afresh (it may have been
  // swapped since the connection was made), unless the caller just did.
  bool detected = false;
  if (c.identifiedJustNow) {
    detected = info.connected;
  } else if (info.connected) {
    info.connected = false;
    detected = Reidentify(c);
    info.connected = detected;
  }
  if (detected && lan && info.modelNumber == kSerialOnlyGroup) {
    c.ui.ShowMessage(kLanSerialOnly, kProductName, MessageIcon::Information, MessageButtons::Ok);
    return Refused(RefusalReason::LanSerialOnly);
  }
  if (!detected) {
    info.connected = false;
    if (c.ui.ShowMessage(kNoInstrumentQuestion, kProductName, MessageIcon::Question,
                         MessageButtons::YesNo) != MessageAnswer::Yes) {
      return {UpgradeOutcome::NoInstrument, RefusalReason::None};
    }
    info.connected = Reidentify(c);
    if (!info.connected) {
      // The user chose to go on, but there is still nobody to upgrade.
      c.ui.ShowMessage(kNoInstrumentAfterAll, kUpgradeCaption, MessageIcon::Information,
                       MessageButtons::Ok);
      return {UpgradeOutcome::NoInstrument, RefusalReason::None};
    }
  }

  int count = 0;
  const std::string ext = LowerExtension(path);
  if (ext == "hex") {
    count =
        PrepareMainHexUpgrade(c.ui, path, c.finder, tables[0], kLoadTableCapacity, acceptBlocked);
    if (count < 0) return Refused(RefusalReason::NotMainHex);
    descriptor.entryCount[0] = count;
  } else if (ext == "upg" || ext == "upx") {
    count = ParseUpgradeDescriptor(path, c.finder, tables, kLoadTableCapacity, descriptor,
                                   acceptBlocked);
  }
  if (descriptor.entryCount[0] == 0 && descriptor.entryCount[1] == 0) {
    c.ui.ShowMessage(kNoLoadLines, kUpgradeCaption, MessageIcon::Information, MessageButtons::Ok);
    return Refused(RefusalReason::NoLoadLines);
  }
  if (count >= static_cast<int>(kLoadTableCapacity)) return Refused(RefusalReason::TooManyEntries);

  // Does the firmware suit the instrument? The check also chooses the table.
  const FirmwareCheck check =
      CheckFirmware(descriptor, {detected, info.modelNumber, info.idnReply, info.versionReply});
  switch (check.verdict) {
    case FirmwareVerdict::Suits:
      break;
    case FirmwareVerdict::ModelMismatch:
      c.ui.ShowMessage(ModelMismatchMessage(descriptor.targetModel, info.idnReply), kProductName,
                       MessageIcon::Warning, MessageButtons::Ok);
      return Refused(RefusalReason::ModelMismatch);
    case FirmwareVerdict::VersionUnreadable:
      c.ui.ShowMessage(kVersionUnreadable, kProductName, MessageIcon::Warning, MessageButtons::Ok);
      return Refused(RefusalReason::VersionUnreadable);
    case FirmwareVerdict::NoUsableTarget:
      c.ui.ShowMessage(kNoUsableTarget, kProductName, MessageIcon::Warning, MessageButtons::Ok);
      return Refused(RefusalReason::NoUsableTarget);
    case FirmwareVerdict::Incompatible:
      c.ui.ShowMessage(kIncompatible, kProductName, MessageIcon::Information, MessageButtons::Ok);
      return Refused(RefusalReason::Incompatible);
  }
  const int selected = check.table;
  // Each table is worked with its own entry count.
  const int selectedCount = descriptor.entryCount[static_cast<std::size_t>(selected)];
  if (selectedCount == 0) {
    c.ui.ShowMessage(kNoLoadLines, kUpgradeCaption, MessageIcon::Information, MessageButtons::Ok);
    return Refused(RefusalReason::NoLoadLines);
  }

  const std::string& warning = descriptor.warningText[static_cast<std::size_t>(selected)];
  if (!warning.empty() && c.ui.ShowMessage(warning, kFirmwareWarningCaption, MessageIcon::Warning,
                                           MessageButtons::OkCancel) != MessageAnswer::Ok) {
    return Refused(RefusalReason::WarningDeclined);
  }

  LoadTable& table = tables[selected];
  std::optional<FirmwareList> list;
  std::string rtf;
  try {
    list = BuildFirmwareList(table, selectedCount, info.idnReply, descriptor.targetModel,
                             acceptBlocked);
    AddBlockingNotes(*list, descriptor, selected, table, acceptBlocked);
    rtf = FirmwareListRtf(*list);
  } catch (const std::bad_alloc&) {
    return Refused(RefusalReason::NoListMemory);
  }
  // Every entry is for other serial numbers: an upgrade that writes nothing
  // would still wake the boot loader and restart the instrument.
  if (list->rows.empty()) {
    c.ui.ShowMessage(kNothingToWrite, kUpgradeCaption, MessageIcon::Information,
                     MessageButtons::Ok);
    return Refused(RefusalReason::NothingToWrite);
  }
  const bool accepted = c.frontEnd.ShowFirmwareList(*list, rtf, acceptBlocked);
  if (acceptBlocked) return Refused(RefusalReason::ListBlocked);
  if (!accepted) return Refused(RefusalReason::ListDeclined);

  descriptor.loadTable = &table;
  c.frontEnd.RunProgress(descriptor);
  if (!descriptor.upgradeSucceeded) return {UpgradeOutcome::Failed, RefusalReason::None};
  info.connected = ReconnectAfterRestart(c);
  if (!info.connected) {
    c.ui.ShowMessage(kUpgradedButNotBack, kUpgradeCaption, MessageIcon::Information,
                     MessageButtons::Ok);
  }
  return {UpgradeOutcome::Succeeded, RefusalReason::None};
}

}  // namespace

FileDialogOptions UpgradeFileDialogOptions() {
  FileDialogOptions options;
  options.title = "Select Firmware Upgrade File";
  options.filterName = "Upgrade Descriptor";
  options.filterPattern = "*.up*";
  options.moreFilters = {{"Hex Firmware", "*.hex"}};
  return options;
}

UpgradeResult RunUpgradeCommand(UpgradeCommandContext& context) {
  // One user of the link: a running or stepping script would send its lines
  // from the timer while the dialogs of the upgrade are open.
  if (context.state.scriptState == kScriptRunning || context.state.scriptState == kScriptStep) {
    context.ui.ShowMessage(kScriptRunningMessage, kUpgradeCaption, MessageIcon::Information,
                           MessageButtons::Ok);
    return Refused(RefusalReason::ScriptRunning);
  }
  // The command and then its worker hold the link until the command ends;
  // one already under way (a command posted meanwhile) leaves it alone.
  const LinkLease lease = context.link.Lease();
  if (!lease) return {UpgradeOutcome::Cancelled, RefusalReason::None};
  PollingOff pollingOff(context.state);
  return Run(context);
}

}  // namespace parlex2
