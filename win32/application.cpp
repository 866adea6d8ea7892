#include "application.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/comms_log_switch.h"
#include "common/clock.h"
#include "comms_log_command.h"
#include "link/comms_log.h"
#include "main_window.h"
#include "resource.h"

namespace parlex2::win32 {
namespace {

std::vector<std::string> ProgramArguments() {
  std::vector<std::string> args;
  for (int i = 1; i < __argc; ++i) args.emplace_back(__argv[i]);
  return args;
}

// Locates (and on first run creates) the settings file, then reads the
// connection and the saved window size from it.
void InitSettings(Application& app) {
  std::unique_ptr<SettingsStore> store = OpenDefaultSettings(GetClock().Now());
  LoadConnectionSettings(*store, app.link.settings);
  app.restored = LoadWindowSize(*store, ScreenSize());
}

}  // namespace

Application& App() {
  static Application app;
  return app;
}

WindowSize ScreenSize() { return {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)}; }

int RunApplication(HINSTANCE instance, int showCommand) {
  const CommandLineOptions options = ParseCommandLine(ProgramArguments());
  if (options.removeDebugFile) std::remove(kDebugFilePath);
  Application& app = App();
  if (options.commsLogFile && !StartCommsLogFile(*options.commsLogFile)) {
    // The same words as for a log file that cannot be created; said before the
    // window opens, so the user knows the run is not being logged.
    app.ui.ShowMessage("Error opening comms log for writing\nComms Logging disabled", "Error",
                       MessageIcon::None, MessageButtons::Ok, false);
  }
  RegisterMainWindowClass(instance);
  app.instance = instance;
  InitSettings(app);

  app.reference =
      ReferenceWindowSize(GetSystemMetrics(SM_CXSIZEFRAME), GetSystemMetrics(SM_CYSIZEFRAME));
  WindowSize size{app.restored.width.value_or(app.reference.width),
                  app.restored.height.value_or(app.reference.height)};
  app.mainWindow = CreateMainWindow(instance, size);
  if (!app.mainWindow) return 0;
  app.ui.SetOwner(app.mainWindow);
  CommsLog::SetUserInterface(&app.ui);
  ShowCommsLogState(app.mainWindow);
  ShowWindow(app.mainWindow, showCommand);
  UpdateWindow(app.mainWindow);

  HACCEL accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDR_ACCELERATORS));
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (!TranslateAcceleratorA(app.mainWindow, accelerators, &message)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
  return static_cast<int>(message.wParam);
}

void ShutDown(HWND window) {
  RECT outer;
  if (GetWindowRect(window, &outer)) {
    std::unique_ptr<SettingsStore> store = OpenSettingsStore(SettingsIniPath());
    SaveWindowSize(*store, {outer.right - outer.left, outer.bottom - outer.top}, ScreenSize());
  }
  StopPollTimer(window);
  App().link.Close();
  CommsLog::SetUserInterface(nullptr);
  App().ui.SetOwner(nullptr);
  PostQuitMessage(0);
}

}  // namespace parlex2::win32
