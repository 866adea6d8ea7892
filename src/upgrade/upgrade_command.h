// The firmware upgrade command (Instrument > Upgrade Firmware..., and
// `parlex2 upgrade`): choose a descriptor or main hex file, make sure of the
// instrument, check that the firmware suits it, have the user confirm the
// warning and accept the list, then run the worker.
//
// Runs on the UI thread (the command line's main thread). The command holds
// the link's lease (LinkLease) and keeps polling off for its whole run, so
// the command and then its worker are the link's only users; polling is put
// back as it was on every way out.
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
  // progress until the user closes the display after the worker ended. The
  // command itself reconnects to the restarted instrument afterwards.
  virtual void RunProgress(UpgradeDescriptor& descriptor) = 0;
};

enum class UpgradeOutcome {
  Cancelled,     // the file dialog was cancelled: nothing happened
  NoInstrument,  // no instrument to upgrade (not detected, user did not go on)
  Refused,       // a check or the user stopped it before anything was sent
  Failed,        // the worker ran and did not complete
  Succeeded,     // the instrument was restarted after a complete upgrade (the
                 // link's connected flag says whether it answered afterwards)
};

// Why a command was refused, for front ends that say so in words or status.
enum class RefusalReason {
  None,
  ScriptRunning,
  PathTooLong,
  LanSerialOnly,
  NotMainHex,
  NoLoadLines,
  TooManyEntries,
  ModelMismatch,
  VersionUnreadable,
  NoUsableTarget,
  Incompatible,
  WarningDeclined,
  NothingToWrite,
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
  // The caller has just connected and identified the instrument (its result
  // is the link's connected flag), so the command does not ask it again.
  bool identifiedJustNow = false;
};

// The open dialog of the command: its title and its two filters.
FileDialogOptions UpgradeFileDialogOptions();

// The whole command. The instrument is identified once for each need: to
// make sure of it at the start (unless the caller just did), once more only
// when the user chose to go on without one, and after a successful upgrade to
// learn the new firmware's identity. Nothing is sent after the user answered
// No. On every way out the link's connected flag says whether an identified
// instrument is on the link; the front end brings its display into line.
UpgradeResult RunUpgradeCommand(UpgradeCommandContext& context);

// The longest chosen path that is read; a longer one is refused, not cut.
inline constexpr std::size_t kUpgradePathMax = 255;

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
inline constexpr char kNothingToWrite[] =
    "None of the firmware files in the upgrade is for this instrument's serial number, so there "
    "is nothing to write.\n\nThe instrument was not changed";
inline constexpr char kUpgradedButNotBack[] =
    "The firmware upgrade succeeded, but the instrument did not answer after its restart.\n\n"
    "Please connect to it again";

}  // namespace parlex2
