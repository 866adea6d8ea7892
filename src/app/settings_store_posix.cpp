#include <cstdlib>

#include "app/settings.h"

namespace parlex2 {

std::unique_ptr<SettingsStore> OpenSettingsStore(const std::string& path) {
  return std::make_unique<IniFileStore>(path);
}

// Read on the UI thread at start-up; nothing in the program changes its
// environment, so getenv's shared storage is never written meanwhile.
std::string SettingsBaseFolder() {
  const char* config = std::getenv("XDG_CONFIG_HOME");  // NOLINT(concurrency-mt-unsafe)
  if (config && *config) return config;
  const char* home = std::getenv("HOME");  // NOLINT(concurrency-mt-unsafe)
  if (home && *home) return std::string(home) + "/.config";
  return "/tmp";
}

SettingsFile DefaultSettingsFile() { return LocateSettingsFile(SettingsBaseFolder(), '/'); }

}  // namespace parlex2
