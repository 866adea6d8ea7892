// The "Proposed Operation" list as plain text, as the command line prints it.
#pragma once

#include <string>

#include "upgrade/firmware_list.h"

namespace parlex2 {

// The list with the rich-text document's lines and columns; `colour` marks
// what cannot be accepted in red with terminal escapes, otherwise it is
// marked in words.
std::string FirmwareListText(const FirmwareList& list, bool colour);

}  // namespace parlex2
