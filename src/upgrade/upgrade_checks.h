// Does the firmware suit the instrument? The model check and the version
// check of the upgrade command, as one function of the descriptor and what
// identification found out: no user interface, no link.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "upgrade/upgrade_descriptor.h"

namespace parlex2 {

// What identification left for the checks.
struct IdentifiedInstrument {
  bool detected = false;  // identified afresh for this upgrade (not only after "Yes")
  std::int32_t modelNumber = 0;
  std::string_view idnReply;      // maker,model,serial,... (empty when unidentified)
  std::string_view versionReply;  // its second field is the internal version
};

enum class FirmwareVerdict {
  Suits,              // `table` is the load table to work with
  ModelMismatch,      // the firmware is for another model
  VersionUnreadable,  // the version reply has no second field
  NoUsableTarget,     // no condition of the descriptor can be evaluated
  Incompatible,       // the internal version fails the condition
};

struct FirmwareCheck {
  FirmwareVerdict verdict = FirmwareVerdict::ModelMismatch;
  int table = -1;  // 0 or 1 when the firmware suits
};

// The model text of an *IDN? reply: everything after its first comma (the
// whole reply when it has none).
std::string_view ConnectedModelText(std::string_view idnReply);

// The firmware suits the instrument when one of these holds, in order:
//  - the instrument was detected, the target model is not empty, and both
//    model texts give the same model number; when that number is 0 (neither
//    is in the model table) the model texts themselves (the instrument's cut
//    at its first comma) must be equal without regard to case;
//  - the instrument is a bootcode instrument (it takes any firmware);
//  - the target is a J7B accessory and the instrument a J7B of number 13, 15
//    or 17;
//  - target and instrument are both of the HLTB numbers 10 and 11.
bool ModelSuits(std::string_view targetModel, const IdentifiedInstrument& instrument);

// The model check, then the version check that chooses the table: the first
// table without a check when the first condition is NoCondition or the
// instrument is a bootcode instrument; otherwise the conditions in order
// against field 2 of the version reply (read as atoi reads it), the first
// that holds choosing its table.
FirmwareCheck CheckFirmware(const UpgradeDescriptor& descriptor,
                            const IdentifiedInstrument& instrument);

// "The upgrade file is for a %s. You are connected to a %s..." with the
// target model and the instrument's model text cut at its first comma, each
// "Unknown Model" when empty.
std::string ModelMismatchMessage(std::string_view targetModel, std::string_view idnReply);

}  // namespace parlex2
