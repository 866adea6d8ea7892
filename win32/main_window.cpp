#include "main_window.h"

#include <commctrl.h>

#include "application.h"
#include "common/product.h"
#include "resource.h"

namespace parlex2::win32 {
namespace {

bool g_timerStarted = false;

LRESULT OnCreate(HWND window) {
  // The information panel is a rich-edit control of the class this library
  // registers.
  LoadLibraryA("riched32.dll");
  INITCOMMONCONTROLSEX classes{
      sizeof classes, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_TAB_CLASSES | ICC_UPDOWN_CLASS};
  InitCommonControlsEx(&classes);

  // 1 ms asks for the fastest the system gives (Windows: about 15 ms).
  g_timerStarted = SetTimer(window, ID_POLL_TIMER, 1, nullptr) != 0;
  // The connection form opens as soon as the message loop runs.
  PostMessageA(window, WM_COMMAND, ID_CONFIGURE_CONNECTION, 0);
  return 0;
}

void OnDestroy(HWND window) { ShutDown(window); }

void OnPaint(HWND window) {
  // The class brush fills the client area; the controls draw themselves.
  PAINTSTRUCT paint;
  BeginPaint(window, &paint);
  EndPaint(window, &paint);
}

void OnGetMinMaxInfo(MINMAXINFO* info) {
  WindowSize smallest = MinimumTrackingSize(App().reference);
  info->ptMinTrackSize.x = smallest.width;
  info->ptMinTrackSize.y = smallest.height;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      return OnCreate(window);
    case WM_DESTROY:
      OnDestroy(window);
      return 0;
    case WM_PAINT:
      OnPaint(window);
      return 0;
    case WM_GETMINMAXINFO:
      OnGetMinMaxInfo(reinterpret_cast<MINMAXINFO*>(lParam));
      return 0;
    case WM_COMMAND:
      if (RunCommand(window, LOWORD(wParam), lParam)) return 0;
      break;
    case WM_TIMER:
      // Received-data polling and the script runner's tick take their turns
      // here once they are part of the program.
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

void StopPollTimer(HWND window) {
  if (g_timerStarted) {
    KillTimer(window, ID_POLL_TIMER);
    g_timerStarted = false;
  }
}

bool RegisterMainWindowClass(HINSTANCE instance) {
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = MainWindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_PARLEX2));
  windowClass.hIconSm = static_cast<HICON>(
      LoadImageA(instance, MAKEINTRESOURCEA(IDI_PARLEX2), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
  windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszMenuName = MAKEINTRESOURCEA(IDR_MAIN_MENU);
  windowClass.lpszClassName = kMainWindowClass;
  return RegisterClassExA(&windowClass) != 0;
}

HWND CreateMainWindow(HINSTANCE instance, WindowSize size) {
  return CreateWindowExA(0, kMainWindowClass, BaseTitle().c_str(), WS_OVERLAPPEDWINDOW,
                         CW_USEDEFAULT, CW_USEDEFAULT, size.width, size.height, nullptr, nullptr,
                         instance, nullptr);
}

}  // namespace parlex2::win32
