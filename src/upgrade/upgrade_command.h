// The firmware upgrade command (Instrument > Upgrade Firmware..., and
// `parlex2 upgrade`): choose a descriptor or main hex file, make sure of the
// instrument, check that the firmware suits it, have the user confirm the
// warning and accept the list, then run the worker.
//
// Runs on the UI thread (the command line's main thread). Polling stays off
// for the whole command, so the command and then its worker are the link's
// only users; it is put back as it was on every way out.
#pragma once

#include <optional>
#include <string>

#include "common/ui.h"
#include "upgrade/firmware_list.h"
#include "upgrade/upgrade_descriptor.h"

namespace parlex2 {

class Clock;
class InstrumentLink;
struct ShellState;

// The two windows of the upgrade that the user interface seam does not cover.
class UpgradeFrontEnd {
 public:
  virtual ~UpgradeFrontEnd() = default;
  // Shows the Proposed Operation; true when the user accepted. The list
  // cannot be accepted while `acceptBlocked` is set.
  virtual bool ShowFirmwareList(const FirmwareList& list, const std::string& rtf,
                                bool acceptBlocked) = 0;
  // Runs the worker on its own thread over `descriptor` and shows its
  // progress until the user closes the display after the worker ended;
  // ReopenLinkAfterUpgrade is the display's to call as it closes.
  virtual void RunProgress(UpgradeDescriptor& descriptor) = 0;
};

enum class UpgradeOutcome {
  Cancelled,     // the file dialog was cancelled: nothing happened
  NoInstrument,  // no instrument to upgrade (not detected, user did not go on)
  Refused,       // a check or the user stopped it before anything was sent
  Failed,        // the worker ran and did not complete
  Succeeded,     // the instrument was restarted after a complete upgrade
};

// Why a command was refused, for front ends that say so in words or status.
enum class RefusalReason {
  None,
  ScriptRunning,
  LanSerialOnly,
  NotMainHex,
  NoLoadLines,
  TooManyEntries,
  ModelMismatch,
  VersionUnreadable,
  NoUsableTarget,
  Incompatible,
  WarningDeclined,
  ListBlocked,
  ListDeclined,
  NoListMemory,
};

struct UpgradeResult {
  UpgradeOutcome outcome = UpgradeOutcome::Cancelled;
  RefusalReason reason = RefusalReason::None;
};

struct UpgradeCommandContext {
  UserInterface& ui;
  UpgradeFrontEnd& frontEnd;
  InstrumentLink& link;
  ShellState& state;
  Clock& clock;  // the short waits between closing and identifying again
  FileFinder& finder;
  // The file to upgrade from; nothing: the user chooses it in the open dialog.
  std::optional<std::string> path;
};

// The open dialog of the command: its title and its two filters.
FileDialogOptions UpgradeFileDialogOptions();

UpgradeResult RunUpgradeCommand(UpgradeCommandContext& context);

// Texts of the command the front ends and tests refer to.
inline constexpr char kUpgradeCaption[] = "Upgrade Firmware";
inline constexpr char kFirmwareWarningCaption[] = "Firmware Warning";
inline constexpr char kNoInstrumentQuestion[] =
    "No instrument was detected.\n\nDo you want to try and continue with the upgrade";
inline constexpr char kNoInstrumentAfterAll[] =
    "No instrument could be identified, so the upgrade cannot continue.\n\nPlease check the "
    "connection and the instrument and try again";
inline constexpr char kScriptRunningMessage[] =
    "A script is running. Please stop the script before upgrading the firmware";
inline constexpr char kNoLoadLines[] = "No valid load lines found in the upgrade descriptor file";

}  // namespace parlex2
