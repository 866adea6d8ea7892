// Upgrade descriptors and main-hex names as they travel between benches, then
// the "Proposed Operation" list built from what was read.
//
// Properties: no table ever holds more entries than its capacity, and nothing
// is written past it (no entry, no sector field); no file past the count; texts keep their limits;
// a sector the family does not admit blocks the accept; the rich-text list is balanced (every group
// closed, no stray closing brace) whatever the instrument and the files are called; the main-hex
// route makes two or three entries for sectors 0..2 or refuses the name.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "support/recording_ui.h"
#include "support/upgrade_support.h"
#include "upgrade/firmware_list.h"
#include "upgrade/firmware_list_rtf.h"
#include "upgrade/firmware_list_text.h"
#include "upgrade/main_hex_route.h"
#include "upgrade/upgrade_descriptor.h"

using namespace parlex2;

namespace {

// Finds every path whose name does not start with 'x' (so both found and
// missing files occur).
class AnyFinder final : public FileFinder {
 public:
  std::optional<FileInfo> Find(const std::string& path, std::string* foundPath) override {
    const std::size_t slash = path.find_last_of("/\\");
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty() || name[0] == 'x') return std::nullopt;
    if (foundPath) *foundPath = path;
    FileInfo info;
    info.name = name;
    info.writeTime = 1700000000;
    return info;
  }
};

// Braces outside escapes never close more than was opened and all are closed.
bool Balanced(const std::string& rtf) {
  int depth = 0;
  for (std::size_t i = 0; i < rtf.size(); ++i) {
    if (rtf[i] == '\\') {
      ++i;  // an escaped character, or the first of a control word
      continue;
    }
    if (rtf[i] == '{') ++depth;
    if (rtf[i] == '}' && --depth < 0) return false;
  }
  return depth == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::size_t capacity = input.ConsumeIntegralInRange<std::size_t>(1, kLoadTableCapacity);
  const std::string idn = input.ConsumeRandomLengthString(200);
  const std::string mainHex = input.ConsumeRandomLengthString(80);
  const std::string text = input.ConsumeBytesAsString(input.remaining_bytes());

  AnyFinder finder;
  LoadTable tables[2];
  tables[0].entries[capacity - 1 < kLoadTableCapacity - 1 ? capacity : 0].sector = -77;  // a marker
  UpgradeDescriptor descriptor;
  bool blocked = false;
  const int count =
      ParseUpgradeDescriptorText(text, "/bench/", finder, tables, capacity, descriptor, blocked);
  FUZZ_CHECK(count >= 0 && static_cast<std::size_t>(count) <= capacity);
  FUZZ_CHECK(descriptor.targetModel.size() <= kTargetModelMax);
  const int maxSector = MaxSectorFor(descriptor.targetModel);
  for (int t = 0; t < 2; ++t) {
    FUZZ_CHECK(descriptor.entryCount[t] >= 0 &&
               static_cast<std::size_t>(descriptor.entryCount[t]) <= capacity);
    FUZZ_CHECK(descriptor.warningText[t].size() <= kWarningTextMax);
    for (int i = 0; i < descriptor.entryCount[t]; ++i) {
      const LoadEntry& e = tables[t].entries[i];
      FUZZ_CHECK(e.path.size() <= kPathMax + 8);
      if (e.sector < 0) FUZZ_CHECK(blocked);  // a negative sector is read, and refused
    }
    // Past the count: a line dropped half-read may have left its sector in
    // the next free entry, but never a file; past the capacity, nothing.
    for (std::size_t i = descriptor.entryCount[t]; i < kLoadTableCapacity; ++i) {
      const LoadEntry& e = tables[t].entries[i];
      FUZZ_CHECK(e.path.empty() && !e.found && !e.listed);
      if (i >= capacity) FUZZ_CHECK(e.sector == 0 || (t == 0 && i == capacity && e.sector == -77));
    }
  }

  LoadTable& table =
      tables[descriptor.entryCount[1] > 0 && count == descriptor.entryCount[1] ? 1 : 0];
  bool listBlocked = false;
  const FirmwareList list =
      BuildFirmwareList(table, count, idn, descriptor.targetModel, listBlocked);
  FUZZ_CHECK(list.rows.size() <= static_cast<std::size_t>(count));
  // A sector the family does not admit is refused when read or when listed
  // (a later TARGET line may change the family the list checks against).
  for (int i = 0; i < count; ++i) {
    if (table.entries[i].listed && table.entries[i].sector > maxSector) {
      FUZZ_CHECK(blocked || listBlocked);
    }
  }
  for (const FirmwareListRow& row : list.rows) FUZZ_CHECK(row.number >= 1 && row.number <= count);
  FUZZ_CHECK(Balanced(FirmwareListRtf(list)));
  FirmwareListText(list, false);
  FUZZ_CHECK(Balanced(RtfEscape(idn + "{}\\")));

  parlex2::testing::RecordingUi ui;
  LoadTable mainTable;
  bool mainBlocked = false;
  const int made = PrepareMainHexUpgrade(ui, "/bench/" + mainHex, finder, mainTable,
                                         kLoadTableCapacity, mainBlocked);
  FUZZ_CHECK(made == -1 || made == 2 || made == 3);
  if (made == -1) FUZZ_CHECK(ui.messages.size() == 1);
  for (int i = 0; i < made; ++i) {
    FUZZ_CHECK(mainTable.entries[i].sector >= 0 && mainTable.entries[i].sector <= 2);
    if (!mainTable.entries[i].found) FUZZ_CHECK(mainBlocked);
  }
  if (made > 0) FUZZ_CHECK(mainTable.entries[made - 1].sector == 0);  // the main file last
  return 0;
}
