// The saved default connection kept in the settings file's "Connect" section,
// behind the connection form's ConnectionDefaults.
#pragma once

#include "app/settings.h"
#include "connect/connection_form.h"

namespace parlex2 {

class SettingsConnectionDefaults final : public ConnectionDefaults {
 public:
  // `store` is not owned and must outlive this object.
  explicit SettingsConnectionDefaults(SettingsStore& store) : store_(store) {}

  // False when no interface was saved.
  bool Load(ConnectionSettings& settings) override;
  bool Save(const ConnectionSettings& settings) override;

 private:
  SettingsStore& store_;
};

}  // namespace parlex2
