#include "upgrade/upgrade_command.h"

#include <cctype>

#include "common/clock.h"
#include "common/product.h"
#include "common/shell_state.h"
#include "common/text.h"
#include "common/ui.h"
#include "connect/identify.h"
#include "connect/model_table.h"
#include "link/instrument_link.h"

namespace parlex2 {
namespace {

constexpr std::uint32_t kReconnectPauseMs = 200;
constexpr std::int32_t kSerialOnlyGroup = 7;  // ZQM71, ZQM44, GKK-UX, MKK-UX

constexpr char kLanSerialOnly[] =
    "ZQM7133 and ZQMM7186 instruments can only upgrade firmware using a serial connection";
constexpr char kModelMismatch[] =
    "The upgrade file is for a %s. You are connected to a %s\n\nPlease ensure the firmware file "
    "name and target instrument model match before continuing\n";
constexpr char kVersionUnreadable[] =
    "Error communicating with instrument, unable to determine instrument internal version";
constexpr char kNoUsableTarget[] = "Error reading firmware, unable to determine firmware target";
constexpr char kIncompatible[] =
    "The connected instrument is incompatible with the selected firmware";
constexpr char kUnknownModel[] = "Unknown Model";

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
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

bool Reidentify(UpgradeCommandContext& c) {
  c.link.Close();
  c.clock.SleepMs(kReconnectPauseMs);
  return ConnectAndIdentify(c.ui, c.link, false);
}

std::string ReplacePlaceholders(const char* format, const std::string& first,
                                const std::string& second) {
  std::string text = format;
  const std::size_t a = text.find("%s");
  text.replace(a, 2, first);
  const std::size_t b = text.find("%s", a + first.size());
  text.replace(b, 2, second);
  return text;
}

bool Compare(VersionTest test, std::int32_t version, std::int32_t reference) {
  switch (test) {
    case VersionTest::Greater:
      return version > reference;
    case VersionTest::GreaterOrEqual:
      return version >= reference;
    case VersionTest::Less:
      return version < reference;
    case VersionTest::LessOrEqual:
      return version <= reference;
    case VersionTest::Equal:
      return version == reference;
    default:
      return false;
  }
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
  path = Truncated(path, 255);

  UpgradeDescriptor descriptor;
  LoadTable tables[2];
  bool acceptBlocked = false;
  ScopedWaitCursor wait(c.ui);
  InstrumentInfo& info = c.link.info;
  const bool lan = c.link.settings.interfaceKind == InterfaceKind::Lan;

  // Make sure of the instrument: identify it afresh (it may have been
  // swapped since the connection was made) and ask before going on blind.
  bool detected = false;
  bool refused = false;
  RefusalReason reason = RefusalReason::None;
  if (info.connected) {
    info.connected = false;
    if (Reidentify(c)) {
      detected = true;
      if (lan && info.modelNumber == kSerialOnlyGroup) {
        c.ui.ShowMessage(kLanSerialOnly, kProductName, MessageIcon::Information,
                         MessageButtons::Ok);
        refused = true;
        reason = RefusalReason::LanSerialOnly;
      }
    }
  }
  bool declined = false;
  if (!detected) {
    if (c.ui.ShowMessage(kNoInstrumentQuestion, kProductName, MessageIcon::Question,
                         MessageButtons::YesNo) != MessageAnswer::Yes) {
      refused = true;
      declined = true;
    }
  }
  info.connected = Reidentify(c);

  if (refused) {
    return declined ? UpgradeResult{UpgradeOutcome::NoInstrument, RefusalReason::None}
                    : Refused(reason);
  }
  if (!info.connected) {
    // The user chose to go on, but there is still nobody to upgrade.
    c.ui.ShowMessage(kNoInstrumentAfterAll, kUpgradeCaption, MessageIcon::Information,
                     MessageButtons::Ok);
    return {UpgradeOutcome::NoInstrument, RefusalReason::None};
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

  // Does the firmware suit the instrument?
  const std::size_t comma = info.idnReply.find(',');
  const std::string connectedModel =
      comma == std::string::npos ? info.idnReply : info.idnReply.substr(comma + 1);
  const std::int32_t targetNumber = LookupModel(descriptor.targetModel);
  const std::int32_t connectedNumber = LookupModel(connectedModel);
  const bool bootcode = info.modelNumber == kModelBootcode;
  const bool suits =
      (detected && targetNumber == connectedNumber && !descriptor.targetModel.empty()) ||
      bootcode ||
      (targetNumber == kModelJ7BAccessory &&
       (connectedNumber == 13 || connectedNumber == 15 || connectedNumber == 17)) ||
      ((targetNumber == 10 || targetNumber == 11) &&
       (connectedNumber == 10 || connectedNumber == 11));
  if (!suits) {
    std::string shownModel = connectedModel.substr(0, connectedModel.find(','));
    const std::string target =
        descriptor.targetModel.empty() ? kUnknownModel : descriptor.targetModel;
    if (shownModel.empty()) shownModel = kUnknownModel;
    c.ui.ShowMessage(ReplacePlaceholders(kModelMismatch, target, shownModel), kProductName,
                     MessageIcon::Warning, MessageButtons::Ok);
    return Refused(RefusalReason::ModelMismatch);
  }

  // The version check chooses the table.
  int selected = -1;
  if (descriptor.versionTest[0] == VersionTest::NoCondition || bootcode) {
    selected = 0;
  } else {
    const std::vector<std::string> fields = SplitText(info.versionReply, ',');
    if (fields.size() < 2) {
      c.ui.ShowMessage(kVersionUnreadable, kProductName, MessageIcon::Warning, MessageButtons::Ok);
      return Refused(RefusalReason::VersionUnreadable);
    }
    const std::int32_t version = AtoI(fields[1]);
    bool unusable = false;
    for (int i = 0; i < 2 && selected < 0; ++i) {
      const VersionTest test = descriptor.versionTest[static_cast<std::size_t>(i)];
      if (i == 1 && test == VersionTest::NoCondition) break;
      if (test == VersionTest::Unusable || test == VersionTest::NoCondition) {
        unusable = true;
      } else if (Compare(test, version, descriptor.versionReference[static_cast<std::size_t>(i)])) {
        selected = i;
      } else {
        unusable = false;
      }
    }
    if (selected < 0) {
      if (unusable) {
        c.ui.ShowMessage(kNoUsableTarget, kProductName, MessageIcon::Warning, MessageButtons::Ok);
        return Refused(RefusalReason::NoUsableTarget);
      }
      c.ui.ShowMessage(kIncompatible, kProductName, MessageIcon::Information, MessageButtons::Ok);
      return Refused(RefusalReason::Incompatible);
    }
  }
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
    rtf = FirmwareListRtf(*list);
  } catch (const std::bad_alloc&) {
    return Refused(RefusalReason::NoListMemory);
  }
  const bool accepted = c.frontEnd.ShowFirmwareList(*list, rtf, acceptBlocked);
  if (acceptBlocked) return Refused(RefusalReason::ListBlocked);
  if (!accepted) return Refused(RefusalReason::ListDeclined);

  descriptor.loadTable = &table;
  c.frontEnd.RunProgress(descriptor);
  return descriptor.upgradeSucceeded ? UpgradeResult{UpgradeOutcome::Succeeded, RefusalReason::None}
                                     : UpgradeResult{UpgradeOutcome::Failed, RefusalReason::None};
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
  PollingOff pollingOff(context.state);
  return Run(context);
}

}  // namespace parlex2
