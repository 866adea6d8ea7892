#include "app/connection_defaults.h"


namespace parlex2 {

bool SettingsConnectionDefaults::Load(ConnectionSettings& settings) {
  ConnectionSettings loaded;
  LoadConnectionSettings(store_, loaded);
  if (loaded.interfaceKind == InterfaceKind::None) return false;
  settings = loaded;
  return true;
}

bool SettingsConnectionDefaults::Save(const ConnectionSettings& settings) {
  return SaveConnectionSettings(store_, settings);
}

}  // namespace parlex2
