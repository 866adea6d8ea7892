#include "main_window_shell.h"

#include <richedit.h>

#include <string>

#include "app/terminal.h"
#include "common/clock.h"
#include "connect_dialog.h"
#include "resource.h"
#include "win32_ui.h"

namespace parlex2::win32 {
namespace {

std::string WindowText(HWND control) {
  const int length = GetWindowTextLengthA(control);
  if (length <= 0) return {};
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  const int got = GetWindowTextA(control, text.data(), length + 1);
  text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return text;
}

// The rich-edit insertion format for a span: headings bold, warnings bold
// red, plain text at normal weight in the window colour.
CHARFORMAT2A SpanFormat(SpanKind kind) {
  CHARFORMAT2A format{};
  format.cbSize = sizeof format;
  format.dwMask = CFM_BOLD | CFM_COLOR;
  switch (kind) {
    case SpanKind::Heading:
      format.dwEffects = CFE_BOLD | CFE_AUTOCOLOR;
      break;
    case SpanKind::Warning:
      format.dwEffects = CFE_BOLD;
      format.crTextColor = RGB(255, 40, 40);
      break;
    case SpanKind::Plain:
      format.dwEffects = CFE_AUTOCOLOR;
      break;
  }
  return format;
}

}  // namespace

MainWindowShell::MainWindowShell(HWND window, InstrumentLink& link, UserInterface& ui)
    : window_(window),
      link_(link),
      ui_(ui),
      pane_(*this),
      settings_(OpenSettingsStore(SettingsIniPath())),
      shell_(link, *this, *this) {
  for (const ControlLayout& row : ControlLayouts()) {
    controls_[row.id - IDC_RESULTS] = GetDlgItem(window, row.id);
  }
  shell_.UseSettings(*settings_);
}

void MainWindowShell::AppendText(std::string_view text) { pane_.Append(text); }

std::string MainWindowShell::ResultsText() {
  AdoptUserEdits();
  return pane_.Text();
}

std::size_t MainWindowShell::ResultsLength() { return pane_.Length(); }

void MainWindowShell::ClearResults() { pane_.Clear(); }

bool MainWindowShell::PaneUpdateDue() { return pane_.UpdateDue(GetClock().TickMs()); }

void MainWindowShell::UpdatePane() {
  AdoptUserEdits();
  pane_.Update();
}

void MainWindowShell::AppendToControl(std::string_view text) {
  HWND pane = Control(IDC_RESULTS);
  AppendToEdit(pane, std::string(text));
  SendMessageA(pane, EM_SETMODIFY, FALSE, 0);
}

void MainWindowShell::RemoveFromControlStart(std::size_t count, std::size_t length) {
  HWND pane = Control(IDC_RESULTS);
  // Removing the first lines puts the caret, and the view, at the top; the
  // caret goes back to the end before anything is drawn.
  SendMessageA(pane, WM_SETREDRAW, FALSE, 0);
  SendMessageA(pane, EM_SETSEL, 0, count);
  SendMessageA(pane, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(""));
  SendMessageA(pane, EM_SETSEL, length - count, length - count);
  SendMessageA(pane, EM_SCROLLCARET, 0, 0);
  SendMessageA(pane, WM_SETREDRAW, TRUE, 0);
  RedrawWindow(pane, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME);
  SendMessageA(pane, EM_SETMODIFY, FALSE, 0);
}

void MainWindowShell::ClearControl() {
  HWND pane = Control(IDC_RESULTS);
  SetWindowTextA(pane, "");
  SendMessageA(pane, EM_SETMODIFY, FALSE, 0);
}

void MainWindowShell::AdoptUserEdits() {
  HWND pane = Control(IDC_RESULTS);
  if (!SendMessageA(pane, EM_GETMODIFY, 0, 0)) return;
  pane_.AdoptShown(WindowText(pane));
  SendMessageA(pane, EM_SETMODIFY, FALSE, 0);
}

void MainWindowShell::ClearScriptList() {
  SendMessageA(Control(IDC_SCRIPT_LIST), LB_RESETCONTENT, 0, 0);
}

void MainWindowShell::AddScriptLine(std::string_view line) {
  const std::string copy(line);
  SendMessageA(Control(IDC_SCRIPT_LIST), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(copy.c_str()));
}

int MainWindowShell::ScriptLineCount() {
  const LRESULT count = SendMessageA(Control(IDC_SCRIPT_LIST), LB_GETCOUNT, 0, 0);
  return count < 0 ? 0 : static_cast<int>(count);
}

std::string MainWindowShell::ScriptLine(int index) {
  HWND list = Control(IDC_SCRIPT_LIST);
  const LRESULT length = SendMessageA(list, LB_GETTEXTLEN, index, 0);
  if (length == LB_ERR || length <= 0) return {};
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  const LRESULT got = SendMessageA(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text.data()));
  text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return text;
}

int MainWindowShell::ScriptSelection() {
  const LRESULT index = SendMessageA(Control(IDC_SCRIPT_LIST), LB_GETCURSEL, 0, 0);
  return index == LB_ERR ? -1 : static_cast<int>(index);
}

void MainWindowShell::SelectScriptLine(int index) {
  // LB_SETCURSEL scrolls the line into view; -1 removes the selection.
  SendMessageA(Control(IDC_SCRIPT_LIST), LB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void MainWindowShell::PostCommand(int id, int mark) {
  PostMessageA(window_, WM_COMMAND, static_cast<WPARAM>(id), static_cast<LPARAM>(mark));
}

void MainWindowShell::Beep() { MessageBeep(0xFFFFFFFF); }

bool MainWindowShell::SendTypedCommand(std::string_view text) {
  return parlex2::SendTypedCommand(link_, text);
}

void MainWindowShell::EnableControl(int id, bool enabled) {
  EnableWindow(Control(id), enabled ? TRUE : FALSE);
}

void MainWindowShell::ShowControl(int id, bool shown) {
  ShowWindow(Control(id), shown ? SW_SHOW : SW_HIDE);
}

void MainWindowShell::SetControlText(int id, std::string_view text) {
  SetWindowTextA(Control(id), std::string(text).c_str());
}

std::string MainWindowShell::ControlText(int id) { return WindowText(Control(id)); }

void MainWindowShell::MoveControl(int id, const ControlRect& rect, bool anchored) {
  HWND control = Control(id);
  MoveWindow(control, rect.x, rect.y, rect.width, rect.height, TRUE);
  if (anchored) InvalidateRect(control, nullptr, FALSE);
}

void MainWindowShell::FocusCommandBox(bool selectAll) {
  HWND box = Control(IDC_COMMAND);
  SetFocus(box);
  if (selectAll) SendMessageA(box, EM_SETSEL, 0, -1);
}

bool MainWindowShell::IsControlHandle(std::intptr_t param) {
  if (param == 0) return false;
  for (const ControlLayout& row : ControlLayouts()) {
    if (reinterpret_cast<std::intptr_t>(Control(row.id)) == param) return true;
  }
  return false;
}

std::optional<std::size_t> MainWindowShell::ResultsCaretLineStart() {
  HWND pane = Control(IDC_RESULTS);
  DWORD start = 0;
  DWORD end = 0;
  SendMessageA(pane, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  if (start != end) return std::nullopt;
  const LRESULT lineStart = SendMessageA(pane, EM_LINEINDEX, static_cast<WPARAM>(-1), 0);
  if (lineStart < 0) return std::nullopt;
  AdoptUserEdits();
  return pane_.ShownStart() + static_cast<std::size_t>(lineStart);
}

void MainWindowShell::ShowInfoPanel(const std::vector<InfoSpan>& spans) {
  HWND panel = Control(IDC_INFO);
  SetWindowTextA(panel, "");
  for (const InfoSpan& span : spans) {
    SendMessageA(panel, EM_SETSEL, -1, -1);  // the end of the text
    CHARFORMAT2A format = SpanFormat(span.kind);
    SendMessageA(panel, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
    SendMessageA(panel, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(span.text.c_str()));
  }
  SendMessageA(panel, WM_VSCROLL, SB_BOTTOM, 0);
}

void MainWindowShell::SetTitle(std::string_view title) {
  SetWindowTextA(window_, std::string(title).c_str());
}

void MainWindowShell::SetMenuItemEnabled(int id, bool enabled) {
  EnableMenuItem(GetMenu(window_), static_cast<UINT>(id),
                 MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
  DrawMenuBar(window_);
}

void MainWindowShell::SetMenuItemChecked(int id, bool checked) {
  CheckMenuItem(GetMenu(window_), static_cast<UINT>(id),
                MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

WindowSize MainWindowShell::OuterSize() {
  RECT outer{};
  GetWindowRect(window_, &outer);
  return {outer.right - outer.left, outer.bottom - outer.top};
}

WindowSize MainWindowShell::ClientSize() {
  RECT client{};
  GetClientRect(window_, &client);
  return {client.right, client.bottom};
}

void MainWindowShell::ShowConnectDialog() { win32::ShowConnectDialog(window_); }

}  // namespace parlex2::win32
