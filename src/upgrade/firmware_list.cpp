#include "upgrade/firmware_list.h"

#include <cctype>
#include <cstdio>
#include <ctime>
#include <new>

#include "common/text.h"
#include "common/ui.h"
#include "upgrade/boot_protocol.h"
#include "upgrade/upgrade_command.h"

namespace parlex2 {
namespace {

constexpr char kNotMainHex[] = "Please choose the main hex file for the Instrument to upgrade";

constexpr std::string_view kRtfHeadStart =
    R"({\rtf1\ansi\ansicpg1252\deff0\deflang2057{\fonttbl{\f0\fswiss\fcharset0 Courier New;}})"
    R"({\colortbl ;\red0\green0\blue0;\red0\green192\blue0;\red255\green0\blue0;\red127\green127\blue127;})"
    R"(\deftab1000\viewkind4\uc1\ul\pard\cf4\b\f0\fs20 Proposed Operation\par\fs20\ulnone\b0\par)";
constexpr std::string_view kRtfHeadMiddle = R"(\cf4 Erase Sectors: )";
constexpr std::string_view kRtfHeadEnd =
    R"(\par\cf0\par\cf4 Program Sectors with the following code:\par\cf0\par)"
    R"(\cf4 File Sector Filename            Date & Time\par)";

// Colour numbers of the document's colour table.
constexpr int kColourText = 0;
constexpr int kColourRed = 3;

// A file time older than a day after 1970 is taken as no time at all.
constexpr std::int64_t kFirstUsableTime = 86400;

std::string DateText(std::int64_t writeTime) {
  if (writeTime <= kFirstUsableTime) return "--/--/--";
  const std::time_t t = static_cast<std::time_t>(writeTime);
  std::tm local{};
#ifdef _WIN32
  if (localtime_s(&local, &t) != 0) return "--/--/--";
#else
  if (!localtime_r(&t, &local)) return "--/--/--";
#endif
  char text[32];
  std::snprintf(text, sizeof text, "%02d/%02d/%02d %02d:%02d", local.tm_mday, local.tm_mon + 1,
                (local.tm_year + 1900) % 100, local.tm_hour, local.tm_min);
  return text;
}

void AppendHexEscape(std::string& out, unsigned char c) {
  static const char kDigits[] = "0123456789abcdef";
  out += "\\'";
  out += kDigits[c >> 4];
  out += kDigits[c & 15];
}

// The name column: the first 20 characters padded to 20, escaped. A leading
// digit is escaped too, since it would otherwise run into the colour word
// before it (\cf0 and "1" reading as \cf01).
std::string NameColumn(std::string_view name) {
  std::string padded(name.substr(0, 20));
  padded.resize(20, ' ');
  if (std::isdigit(static_cast<unsigned char>(padded[0]))) {
    std::string out;
    AppendHexEscape(out, static_cast<unsigned char>(padded[0]));
    return out + RtfEscape(std::string_view(padded).substr(1));
  }
  return RtfEscape(padded);
}

// A sector the family admits and the boot loader has an access code for.
bool SectorWritable(std::int32_t sector, int maxSector) {
  return sector >= 0 && sector <= maxSector && !SectorCode(sector).empty();
}

}  // namespace

std::string RtfEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '\\' || c == '{' || c == '}') {
      out += '\\';
      out += ch;
    } else if (c >= 0x80 || c < 0x20) {
      AppendHexEscape(out, c);
    } else {
      out += ch;
    }
  }
  return out;
}

int PrepareMainHexUpgrade(UserInterface& ui, const std::string& mainHexPath, FileFinder& finder,
                          LoadTable& table, std::size_t capacity, bool& acceptBlocked) {
  const std::size_t last = LastPathSeparator(mainHexPath);
  const std::string directory = last == std::string::npos ? "" : mainHexPath.substr(0, last);
  const std::string name = last == std::string::npos ? mainHexPath : mainHexPath.substr(last + 1);
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(name[i]); };
  if (name.size() < 3 || !std::isalpha(at(0)) || !std::isalnum(at(1)) || name[2] != '_' ||
      capacity < 3) {
    ui.ShowMessage(kNotMainHex, kUpgradeCaption, MessageIcon::Information, MessageButtons::Ok);
    return -1;
  }
  const std::string suffix = name.substr(name.find('_'));
  // A path chosen without a folder names files of the current folder; its
  // companions lie there too (not at the root of the drive).
  const std::string prefix = last == std::string::npos ? "" : directory + kPathSeparator;

  int count = 0;
  const auto add = [&](const std::string& path, std::int32_t sector) {
    LoadEntry& entry = table.entries[static_cast<std::size_t>(count++)];
    entry = LoadEntry{};
    entry.sector = sector;
    entry.path = Truncated(path, kPathMax);
    std::string foundPath;
    if (auto info = finder.Find(entry.path, &foundPath)) {
      entry.fileInfo = std::move(*info);
      entry.found = true;
      if (!foundPath.empty()) entry.path = Truncated(foundPath, kPathMax);
    } else {
      // Listed by the name looked for, so the user sees which file is missing.
      const std::size_t slash = LastPathSeparator(path);
      entry.fileInfo.name =
          Truncated(path.substr(slash == std::string::npos ? 0 : slash + 1), kPathMax);
      acceptBlocked = true;
    }
  };
  add(prefix + "DSP" + suffix, 2);
  if (!StartsWithNoCase(name, "SQ") && !StartsWithNoCase(name, "PC")) {
    add(prefix + "FPG" + suffix, 1);
  }
  add(mainHexPath, 0);
  return count;
}

std::optional<long long> InstrumentSerialNumber(std::string_view idnReply) {
  const std::vector<std::string> fields = SplitText(idnReply, ',');
  if (fields.size() < 3) return std::nullopt;
  std::string_view field = fields[2];
  std::size_t i = 0;
  while (i < field.size() && std::isspace(static_cast<unsigned char>(field[i]))) ++i;
  if (i < field.size() && (field[i] == '+' || field[i] == '-')) ++i;
  if (i >= field.size() || !std::isdigit(static_cast<unsigned char>(field[i]))) {
    return std::nullopt;
  }
  return AtoI(field);
}

FirmwareList BuildFirmwareList(LoadTable& table, int count, std::string_view idnReply,
                               std::string_view targetModel, bool& acceptBlocked) {
  FirmwareList list;
  list.instrument = std::string(idnReply);
  list.target = std::string(targetModel);
  const int maxSector = MaxSectorFor(targetModel);
  const std::optional<long long> serial = InstrumentSerialNumber(idnReply);
  if (count < 0) count = 0;
  if (count > static_cast<int>(kLoadTableCapacity)) count = static_cast<int>(kLoadTableCapacity);

  for (LoadEntry& entry : table.entries) entry.listed = false;
  for (int i = 0; i < count; ++i) {
    LoadEntry& entry = table.entries[static_cast<std::size_t>(i)];
    const bool ranged = entry.serialLow != 0 || entry.serialHigh != 0;
    const bool hidden =
        serial && ranged &&
        (*serial < entry.serialLow || (entry.serialHigh != 0 && *serial > entry.serialHigh));
    entry.fileInfo.name = LowerCase(entry.fileInfo.name);
    if (hidden) continue;
    entry.listed = true;

    FirmwareListRow row;
    row.number = i + 1;
    row.sector = entry.sector;
    row.found = entry.found;
    row.name = entry.fileInfo.name;
    row.date = DateText(entry.fileInfo.writeTime);
    if (!entry.found) acceptBlocked = true;
    list.rows.push_back(std::move(row));
  }

  for (const SectorPlan& plan : PlanSectors(table, [](const LoadEntry& e) { return e.listed; })) {
    const bool allowed = SectorWritable(plan.sector, maxSector);
    if (!allowed) acceptBlocked = true;
    if (plan.erase) {
      list.eraseSectors.push_back({plan.sector, allowed});
    } else if (!allowed) {
      list.notes.push_back("Sector " + std::to_string(plan.sector) +
                           " cannot be written on this model");
    }
  }
  return list;
}

void AddBlockingNotes(FirmwareList& list, const UpgradeDescriptor& descriptor, int selectedTable,
                      const LoadTable& table, bool acceptBlocked) {
  // BuildFirmwareList shows a listed entry's sector in red when it cannot be
  // written for the list's target.
  const int maxSector = MaxSectorFor(list.target);
  for (const OutOfRangeLine& bad : descriptor.outOfRange) {
    const char* why = nullptr;
    if (bad.slot < 0) {
      why = " (the line has no file name)";
    } else if (bad.table != selectedTable) {
      why = " (an entry for another instrument version)";
    } else if (!table.entries[static_cast<std::size_t>(bad.slot)].listed) {
      why = " (an entry for other serial numbers)";
    } else if (SectorWritable(bad.sector, maxSector)) {
      // The family was decided again by a later TARGET line.
      why = " (read before the TARGET line that admits it)";
    }
    if (!why) continue;  // a listed entry whose sector the list shows in red
    list.notes.push_back("Line " + std::to_string(bad.line) + " names sector " +
                         std::to_string(bad.sector) + ", which this model does not have" + why);
  }
  bool red = !list.notes.empty();
  for (const FirmwareListSector& s : list.eraseSectors) red = red || !s.allowed;
  for (const FirmwareListRow& row : list.rows) red = red || !row.found;
  if (acceptBlocked && !red) list.notes.push_back("The upgrade descriptor cannot be used as it is");
}

std::string FirmwareListRtf(const FirmwareList& list) {
  std::string head = R"(\cf4 Instrument: \cf0 )" + RtfEscape(list.instrument) + R"(\par)";
  if (!list.target.empty()) head += R"(\cf4 Target: \cf0 )" + RtfEscape(list.target) + R"(\par)";
  std::string erase;
  char piece[64];
  for (const FirmwareListSector& s : list.eraseSectors) {
    std::snprintf(piece, sizeof piece, "\\cf%d %d,", s.allowed ? kColourText : kColourRed,
                  s.sector);
    erase += piece;
  }
  std::string out;
  out += kRtfHeadStart;
  out += head;
  out += kRtfHeadMiddle;
  out += erase;
  out += kRtfHeadEnd;
  for (const FirmwareListRow& row : list.rows) {
    std::snprintf(piece, sizeof piece, "\\cf0 %-2d   %-2d     \\cf%d", row.number, row.sector,
                  row.found ? kColourText : kColourRed);
    out += piece;
    out += NameColumn(row.name);
    out += "\\cf0 ";
    out += row.date;
    out += "\\par";
  }
  for (const std::string& note : list.notes) {
    std::snprintf(piece, sizeof piece, "\\cf%d ", kColourRed);
    out += piece;
    out += RtfEscape(note);
    out += "\\cf0\\par";
  }
  out += "}";
  return out;
}

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

std::optional<std::string> BuildFirmwareFileList(LoadTable& table, int count,
                                                 std::string_view idnReply,
                                                 std::string_view targetModel,
                                                 bool& acceptBlocked) {
  try {
    return FirmwareListRtf(BuildFirmwareList(table, count, idnReply, targetModel, acceptBlocked));
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

}  // namespace parlex2
