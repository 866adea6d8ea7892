// The --flash file: the flash's dump (Flash::Dump) where tests and users read
// it, written again at exit and after every restart of the boot loader.
#pragma once

#include <string>

#include "flash.h"

namespace parlex2::sim {

// Writes the dump beside `path` and renames it into place, so a reader never
// sees half a dump. False, with `error` set, when it cannot be written.
bool WriteFlashFile(const std::string& path, const Flash& flash, std::string& error);

}  // namespace parlex2::sim
