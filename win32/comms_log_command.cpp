#include "comms_log_command.h"

#include "app/comms_log_switch.h"
#include "application.h"
#include "link/comms_log.h"
#include "resource.h"

namespace parlex2::win32 {

void OnCommsLog(HWND window, int, LPARAM) {
  ToggleCommsLogFile(App().ui);
  ShowCommsLogState(window);
}

void ShowCommsLogState(HWND window) {
  CheckMenuItem(GetMenu(window), ID_COMMS_LOG,
                MF_BYCOMMAND | (CommsLog::IsLoggingEnabled() ? MF_CHECKED : MF_UNCHECKED));
}

}  // namespace parlex2::win32
