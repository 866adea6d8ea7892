#include "upgrade/main_hex_route.h"

#include <cctype>
#include <cstdint>
#include <utility>

#include "common/text.h"
#include "common/ui.h"
#include "upgrade/upgrade_command.h"

namespace parlex2 {
namespace {

constexpr char kNotMainHex[] = "Please choose the main hex file for the Instrument to upgrade";

}  // namespace

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

}  // namespace parlex2
