// The "Proposed Operation" list: what an upgrade will erase and write, as the
// user is asked to accept it, worked out from the load table and the
// instrument. firmware_list_rtf.h writes it for the window,
// firmware_list_text.h for the command line.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "upgrade/upgrade_descriptor.h"

namespace parlex2 {

// The instrument's serial number for serial ranges: field 2 of the *IDN?
// reply read as a number; nothing when the reply has no such field or it
// holds no digits (then no entry is hidden).
std::optional<long long> InstrumentSerialNumber(std::string_view idnReply);

struct FirmwareListRow {
  int number = 0;  // counted from 1 in table order; hidden entries use theirs up
  int sector = 0;
  bool found = false;
  std::string name;  // lower case, as the worker reports it
  std::string date;  // "dd/mm/yy hh:mm" or "--/--/--"
};

struct FirmwareListSector {
  int sector = 0;
  bool allowed = true;  // false: out of range for the family, or no access code
};

struct FirmwareList {
  std::string instrument;  // the whole *IDN? reply
  std::string target;      // the target model; empty for the main-hex route
  std::vector<FirmwareListSector> eraseSectors;  // as PlanSectors erases them
  std::vector<FirmwareListRow> rows;
  // Why the list cannot be accepted, where the rows and the sectors to erase
  // do not show it in red: one line each, shown in red after the rows.
  std::vector<std::string> notes;
};

// Works out the list for the first `count` entries of `table`: entries hidden
// by their serial range are left out, every other entry is marked `listed`
// and its name lower-cased in place. The sectors to erase are those the
// worker erases (PlanSectors over the listed entries). A missing file or a
// sector that cannot be written sets `acceptBlocked`; one that the list would
// not show otherwise (a sector only programmed over) gets a note.
FirmwareList BuildFirmwareList(LoadTable& table, int count, std::string_view idnReply,
                               std::string_view targetModel, bool& acceptBlocked);

// Notes for the descriptor's lines whose sector the family does not admit
// and that the list does not show: a line dropped for want of a file name,
// an entry hidden by its serial range, an entry of the table not selected.
// Each of them set `acceptBlocked` while the descriptor was read; should it be
// set with nothing in red to say why, a note says so, so that the list always
// shows what keeps it from being accepted.
void AddBlockingNotes(FirmwareList& list, const UpgradeDescriptor& descriptor, int selectedTable,
                      const LoadTable& table, bool acceptBlocked);

}  // namespace parlex2
