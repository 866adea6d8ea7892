#include "main_window.h"

#include <commctrl.h>
#include <richedit.h>

#include <memory>

#include "app/shell_layout.h"
#include "application.h"
#include "common/product.h"
#include "comms_log_command.h"
#include "main_window_shell.h"
#include "resource.h"

namespace parlex2::win32 {
namespace {

bool g_timerStarted = false;
bool g_paneUpdatePosted = false;
// Posted by the timer when the results pane has text to show.
constexpr UINT kUpdatePaneMessage = WM_APP + 1;
std::unique_ptr<MainWindowShell> g_shell;
WNDPROC g_commandBoxProc = nullptr;
WNDPROC g_resultsPaneProc = nullptr;

// Window styles of each control (the rest of its row is the shell's table).
struct ControlStyle {
  int id;
  DWORD exStyle;
  DWORD style;
};

constexpr ControlStyle kStyles[] = {
    {IDC_RESULTS, WS_EX_CLIENTEDGE,
     WS_BORDER | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL |
         ES_AUTOHSCROLL},
    {IDC_INFO, 0, WS_BORDER | WS_GROUP | ES_MULTILINE | ES_READONLY | ES_NOHIDESEL | ES_SAVESEL},
    {IDC_COMMAND, WS_EX_CLIENTEDGE, WS_BORDER | WS_TABSTOP | ES_MULTILINE | ES_WANTRETURN},
    {IDC_SEND, 0, WS_TABSTOP | BS_PUSHBUTTON},
    {IDC_SCRIPT_LIST, WS_EX_CLIENTEDGE, WS_BORDER | WS_VSCROLL | WS_TABSTOP | LBS_NOINTEGRALHEIGHT},
    {IDC_RUN, 0, WS_TABSTOP | BS_PUSHBUTTON},
    {IDC_STEP, 0, WS_TABSTOP | BS_PUSHBUTTON},
    {IDC_CLOSE, 0, WS_TABSTOP | BS_PUSHBUTTON},
};

const ControlStyle& StyleOf(int id) {
  for (const ControlStyle& style : kStyles) {
    if (style.id == id) return style;
  }
  return kStyles[0];
}

void Post(HWND control, int id) {
  PostMessageA(GetParent(control), WM_COMMAND, static_cast<WPARAM>(id), 0);
}

// Enter sends (the box never sees the line break); Up and Down, once
// released, walk the history and still reach the box.
LRESULT CALLBACK CommandBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CHAR && wParam == VK_RETURN) {
    Post(box, IDC_SEND);
    return 0;
  }
  if (message == WM_KEYUP && wParam == VK_UP) Post(box, ID_HISTORY_PREV);
  if (message == WM_KEYUP && wParam == VK_DOWN) Post(box, ID_HISTORY_NEXT);
  return CallWindowProcA(g_commandBoxProc, box, message, wParam, lParam);
}

// A click on an echo line brings its command back, once the click has moved
// the caret.
LRESULT CALLBACK ResultsPaneProc(HWND pane, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_LBUTTONUP) Post(pane, ID_RECALL_LINE);
  return CallWindowProcA(g_resultsPaneProc, pane, message, wParam, lParam);
}

HFONT FontFrom(int stockFont, LONG weight) {
  LOGFONTA description{};
  GetObjectA(GetStockObject(stockFont), sizeof description, &description);
  description.lfWeight = weight;
  return CreateFontIndirectA(&description);
}

LRESULT OnCreate(HWND window) {
  // The information panel is a rich-edit control of the class this library
  // registers.
  LoadLibraryA("riched32.dll");
  INITCOMMONCONTROLSEX classes{
      sizeof classes, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_TAB_CLASSES | ICC_UPDOWN_CLASS};
  InitCommonControlsEx(&classes);

  HINSTANCE instance = App().instance;
  for (const ControlLayout& row : ControlLayouts()) {
    const ControlStyle& style = StyleOf(row.id);
    CreateWindowExA(style.exStyle, row.className, row.text, WS_CHILD | style.style, row.design.x,
                    row.design.y, row.design.width, row.design.height, window,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(row.id)), instance, nullptr);
  }
  g_commandBoxProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
      GetDlgItem(window, IDC_COMMAND), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CommandBoxProc)));
  g_resultsPaneProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
      GetDlgItem(window, IDC_RESULTS), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ResultsPaneProc)));

  // Four fonts from the two stock fonts, made once for the process's life;
  // the fixed-pitch bold one has no control.
  static const HFONT fixedNormal = FontFrom(ANSI_FIXED_FONT, FW_NORMAL);
  static const HFONT fixedBold = FontFrom(ANSI_FIXED_FONT, FW_BOLD);
  static const HFONT guiNormal = FontFrom(DEFAULT_GUI_FONT, FW_NORMAL);
  static const HFONT guiBold = FontFrom(DEFAULT_GUI_FONT, FW_BOLD);
  (void)fixedBold;
  for (const ControlLayout& row : ControlLayouts()) {
    HFONT font = row.font == ControlFont::FixedPitch ? fixedNormal
                 : row.font == ControlFont::GuiBold  ? guiBold
                                                     : guiNormal;
    SendMessageA(GetDlgItem(window, row.id), WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }

  // Kept to the end of the process: a modal dialog the shell opened may still
  // return into it after the window has gone.
  g_shell = std::make_unique<MainWindowShell>(window, App().link, App().ui);
  Shell& shell = g_shell->shell();
  shell.SetReferenceSize(App().reference);
  shell.InitControls();
  // 0: as much as the control holds.
  SendMessageA(GetDlgItem(window, IDC_RESULTS), EM_SETLIMITTEXT, 0, 0);
  SendMessageA(GetDlgItem(window, IDC_COMMAND), EM_SETLIMITTEXT, 256, 0);
  SetFocus(GetDlgItem(window, IDC_COMMAND));
  // 1 ms asks for the fastest the system gives (Windows: about 15 ms).
  g_timerStarted = SetTimer(window, ID_POLL_TIMER, 1, nullptr) != 0;
  shell.FinishCreation();
  return 0;
}

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
      ShutDown(window);
      return 0;
    case WM_PAINT:
      OnPaint(window);
      return 0;
    case WM_SIZE:
      if (wParam != SIZE_MINIMIZED && g_shell) g_shell->shell().Layout();
      return 0;
    case WM_GETMINMAXINFO:
      OnGetMinMaxInfo(reinterpret_cast<MINMAXINFO*>(lParam));
      return 0;
    case WM_COMMAND:
      if (RunCommand(window, LOWORD(wParam), lParam)) return 0;
      break;
    case WM_TIMER:
      if (!g_shell) return 0;
      g_shell->shell().Timer();
      if (!g_paneUpdatePosted && g_shell->PaneUpdateDue()) {
        g_paneUpdatePosted = PostMessageA(window, kUpdatePaneMessage, 0, 0) != FALSE;
      }
      return 0;
    case kUpdatePaneMessage:
      g_paneUpdatePosted = false;
      if (g_shell) g_shell->UpdatePane();
      return 0;
    case WM_INITMENUPOPUP:
      // The comms log switches itself off when its file cannot be made.
      ShowCommsLogState(window);
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

Shell* MainShell() { return g_shell ? &g_shell->shell() : nullptr; }

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
