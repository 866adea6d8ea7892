#include "upgrade/firmware_list_text.h"

#include <cstdio>

namespace parlex2 {

std::string FirmwareListText(const FirmwareList& list, bool colour) {
  const auto red = [&](const std::string& text, const char* words) {
    return colour ? "\x1b[1;31m" + text + "\x1b[0m" : text + words;
  };
  std::string out = "Proposed Operation\n\n";
  out += "Instrument: " + list.instrument + "\n";
  if (!list.target.empty()) out += "Target: " + list.target + "\n";
  out += "Erase Sectors:";
  for (const FirmwareListSector& s : list.eraseSectors) {
    const std::string number = std::to_string(s.sector);
    out += " " + (s.allowed ? number : red(number, " (cannot be written)")) + ",";
  }
  out += "\n\nProgram Sectors with the following code:\n\n";
  out += "File Sector Filename            Date & Time\n";
  char piece[64];
  for (const FirmwareListRow& row : list.rows) {
    std::snprintf(piece, sizeof piece, "%-2d   %-2d     ", row.number, row.sector);
    std::string name = row.name.substr(0, 20);
    name.resize(20, ' ');
    out += piece;
    out += row.found ? name : red(name, "");
    out += " " + row.date;
    if (!row.found) out += colour ? "" : "  (file not found)";
    out += "\n";
  }
  for (const std::string& note : list.notes) out += red(note, "") + "\n";
  return out;
}

}  // namespace parlex2
