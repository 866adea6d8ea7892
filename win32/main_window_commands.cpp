// The main window's commands: those that open the window's own dialogs are
// here, each with its handler; every other command goes to the shell's
// table (connecting, the terminal, the script panel, the clock).
#include "about_dialog.h"
#include "comms_log_command.h"
#include "main_window.h"
#include "resource.h"
#include "upgrade_command.h"

namespace parlex2::win32 {
namespace {

void OnAbout(HWND window, int, LPARAM) { ShowAboutBox(window); }

// The upgrade closes, reopens and identifies the link itself: however it
// ended, the window then shows what the link is.
void OnUpgradeFirmware(HWND window, int, LPARAM) {
  if (Shell* shell = MainShell()) {
    RunUpgradeFirmware(window, shell->state());
    shell->FollowLink();
  }
  PostMessageA(window, WM_COMMAND, ID_FOCUS_COMMAND, 0);
}

struct CommandRow {
  int id;
  CommandHandler handler;  // null: the feature is not in this build yet
};

constexpr CommandRow kCommands[] = {
    {ID_ABOUT, OnAbout},
    {ID_UPGRADE_FIRMWARE, OnUpgradeFirmware},
    {ID_COMMS_LOG, OnCommsLog},
};

}  // namespace

bool RunCommand(HWND window, int id, LPARAM param) {
  for (const CommandRow& row : kCommands) {
    if (row.id != id) continue;
    if (row.handler) row.handler(window, id, param);
    return true;
  }
  Shell* shell = MainShell();
  return shell && shell->Command(id, static_cast<std::intptr_t>(param));
}

}  // namespace parlex2::win32
