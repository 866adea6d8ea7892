#include <cstdlib>

#include "app/settings.h"

namespace parlex2 {

std::unique_ptr<SettingsStore> OpenSettingsStore(const std::string& path) {
  return std::make_unique<IniFileStore>(path);
}

std::string SettingsBaseFolder() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && *config) return config;
  const char* home = std::getenv("HOME");
  if (home && *home) return std::string(home) + "/.config";
  return "/tmp";
}

SettingsFile DefaultSettingsFile() { return LocateSettingsFile(SettingsBaseFolder(), '/'); }

}  // namespace parlex2
