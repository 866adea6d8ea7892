#include "upgrade/firmware_list.h"

#include <cctype>
#include <cstdio>
#include <ctime>

#include "common/text.h"
#include "upgrade/boot_protocol.h"

namespace parlex2 {
namespace {

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

// A sector the family admits and the boot loader has an access code for.
bool SectorWritable(std::int32_t sector, int maxSector) {
  return sector >= 0 && sector <= maxSector && !SectorCode(sector).empty();
}

}  // namespace

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

}  // namespace parlex2
