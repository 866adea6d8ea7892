#include "app/comms_log_switch.h"

#include <string>

#include "common/ui.h"
#include "link/comms_log.h"

namespace parlex2 {

bool ToggleCommsLogFile(UserInterface& ui) {
  if (CommsLog::IsLoggingEnabled()) {
    CommsLog::ToggleLogging();
    return CommsLog::IsLoggingEnabled();
  }
  FileDialogOptions options;
  options.title = "Comms Log";
  options.filterName = "Log File *.log";
  options.filterPattern = "*.log";
  options.defaultExtension = "log";
  options.initialName = CommsLog::GetLogPath();
  const std::optional<std::string> path = ui.ChooseFileToSave(options);
  if (path) StartCommsLogFile(*path);
  return CommsLog::IsLoggingEnabled();
}

bool StartCommsLogFile(std::string_view path) {
  if (path.empty() || path.size() > kCommsLogPathMax) return false;
  CommsLog::SetLogPath(path);
  if (!CommsLog::IsLoggingEnabled()) CommsLog::ToggleLogging();
  return true;
}

}  // namespace parlex2
