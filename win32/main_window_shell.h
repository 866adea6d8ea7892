// The shell's reach into the main window: the results pane, script list and
// posted commands (ShellHost) and the controls, menu, title and dialogs
// (ShellWindow) on the real window. It owns the window's Shell, the results
// pane's text (shown by the edit control within its scrollback) and the
// settings store the shell keeps its switches in. UI thread only.
#pragma once

#include <windows.h>

#include <memory>

#include "app/results_pane.h"
#include "app/settings.h"
#include "app/shell.h"
#include "common/command_ids.h"
#include "common/ui.h"
#include "link/instrument_link.h"

namespace parlex2::win32 {

class MainWindowShell final : public ShellHost, public ShellWindow, private PaneControl {
 public:
  MainWindowShell(HWND window, InstrumentLink& link, UserInterface& ui);

  Shell& shell() { return shell_; }
  // A child control by ID (GetDlgItem asks the window system each time:
  // the handles are looked up once).
  HWND Control(int id) const {
    const int index = id - IDC_RESULTS;
    return index >= 0 && index < kControlSlots ? controls_[index] : nullptr;
  }

  // The results pane's next change to its edit control: due after the timer
  // when text waits to be shown; run as a message of its own, so the window
  // answers between the poll and the pane's append.
  bool PaneUpdateDue();
  void UpdatePane();

  // ShellHost
  void AppendText(std::string_view text) override;
  std::string ResultsText() override;
  void ClearResults() override;
  std::size_t ResultsLength() override;
  void ClearScriptList() override;
  void AddScriptLine(std::string_view line) override;
  int ScriptLineCount() override;
  std::string ScriptLine(int index) override;
  int ScriptSelection() override;
  void SelectScriptLine(int index) override;
  void PostCommand(int id, int mark) override;
  void Beep() override;
  bool SendTypedCommand(std::string_view text) override;
  UserInterface& Ui() override { return ui_; }

  // ShellWindow
  void EnableControl(int id, bool enabled) override;
  void ShowControl(int id, bool shown) override;
  void SetControlText(int id, std::string_view text) override;
  std::string ControlText(int id) override;
  void MoveControl(int id, const ControlRect& rect, bool anchored) override;
  void FocusCommandBox(bool selectAll) override;
  bool IsControlHandle(std::intptr_t param) override;
  std::optional<std::size_t> ResultsCaretLineStart() override;
  void ShowInfoPanel(const std::vector<InfoSpan>& spans) override;
  void SetTitle(std::string_view title) override;
  void SetMenuItemEnabled(int id, bool enabled) override;
  void SetMenuItemChecked(int id, bool checked) override;
  WindowSize OuterSize() override;
  WindowSize ClientSize() override;
  void ShowConnectDialog() override;

 private:
  // PaneControl: the results pane's edit control.
  void AppendToControl(std::string_view text) override;
  void RemoveFromControlStart(std::size_t count, std::size_t length) override;
  void ClearControl() override;
  // What the user typed into or cut from the edit control becomes the pane's
  // text there (the control's modified flag tells; the program's own changes
  // clear it).
  void AdoptUserEdits();

  static constexpr int kControlSlots = IDC_CLOSE - IDC_RESULTS + 1;

  HWND window_;
  HWND controls_[kControlSlots] = {};
  InstrumentLink& link_;
  UserInterface& ui_;
  ResultsPane pane_;
  std::unique_ptr<SettingsStore> settings_;
  Shell shell_;
};

}  // namespace parlex2::win32
