// The command table of the main window: every command ID it answers, with the
// handler that carries it out. A feature plugs in by naming its handler in its
// row; a row with no handler is a command whose feature is not in this build
// yet, and it does nothing.
#include <iterator>

#include "about_dialog.h"
#include "comms_log_command.h"
#include "connect_dialog.h"
#include "main_window.h"
#include "resource.h"

namespace parlex2::win32 {
namespace {

void OnAbout(HWND window, int, LPARAM) { ShowAboutBox(window); }

// The dialog alone, until the full connect sequence takes this row.
void OnConfigureConnection(HWND window, int, LPARAM) {
  ShowConnectDialog(window);
  PostMessageA(window, WM_COMMAND, ID_CONNECTION_CHANGED, 0);
}

struct CommandRow {
  int id;
  CommandHandler handler;
};

constexpr CommandRow kCommands[] = {
    {ID_ABOUT, OnAbout},
    {ID_CONNECTION_CHANGED, nullptr},
    {ID_FOCUS_COMMAND, nullptr},
    {ID_RECALL_LINE, nullptr},
    {ID_HISTORY_PREV, nullptr},
    {ID_HISTORY_NEXT, nullptr},
    {ID_RESULT_SAVE, nullptr},
    {IDC_SEND, nullptr},
    {ID_RESULT_CLEAR, nullptr},
    {ID_CONVERT_BINARY, nullptr},
    {ID_CONFIGURE_CONNECTION, OnConfigureConnection},
    {ID_UPGRADE_FIRMWARE, nullptr},
    {ID_SET_DATE_TIME, nullptr},
    {ID_DISCONNECT, nullptr},
    {ID_SCRIPT, nullptr},
    {IDC_RUN, nullptr},
    {IDC_STEP, nullptr},
    {IDC_CLOSE, nullptr},
    {ID_COMMS_LOG, OnCommsLog},
};

}  // namespace

bool RunCommand(HWND window, int id, LPARAM mark) {
  for (const CommandRow& row : kCommands) {
    if (row.id != id) continue;
    if (row.handler) row.handler(window, id, mark);
    return true;
  }
  return false;
}

}  // namespace parlex2::win32
