// The upgrade from a main hex file: the load table made from the file's name
// and the names of its companions, where no upgrade descriptor is chosen.
#pragma once

#include <cstddef>
#include <string>

#include "upgrade/upgrade_descriptor.h"

namespace parlex2 {

class UserInterface;

// A main hex file is named letter, letter or digit, underscore, anything:
// A1_V2.HEX. Beside it lie DSP_V2.HEX (sector 2) and, unless the name begins
// with SQ or PC, FPG_V2.HEX (sector 1); the main file goes to sector 0, last.
// Fills `table` and returns the entries made (2 or 3); a missing file sets
// `acceptBlocked`. Returns -1, after telling the user, when the name is no
// main hex file name.
int PrepareMainHexUpgrade(UserInterface& ui, const std::string& mainHexPath, FileFinder& finder,
                          LoadTable& table, std::size_t capacity, bool& acceptBlocked);

}  // namespace parlex2
