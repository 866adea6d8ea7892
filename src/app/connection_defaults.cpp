#include "app/connection_defaults.h"

#include "common/text.h"

namespace parlex2 {

bool SettingsConnectionDefaults::Load(ConnectionSettings& settings) {
  ConnectionSettings loaded;
  LoadConnectionSettings(store_, loaded);
  // Elsewhere than Windows the port is a device path, longer than COM254.
  loaded.comPort = Truncated(store_.GetString(kSectionConnect, kKeyComPort, "", kSettingsTextMax),
                             ComPortNameLimit());
  if (loaded.interfaceKind == InterfaceKind::None) return false;
  settings = loaded;
  return true;
}

void SettingsConnectionDefaults::Save(const ConnectionSettings& settings) {
  SaveConnectionSettings(store_, settings);
}

}  // namespace parlex2
