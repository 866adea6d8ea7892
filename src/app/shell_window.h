// What the shell needs from its main window beyond the results pane and the
// script list (ShellHost): the child controls' state, the title, the menu, the
// layout's sizes, and the dialogs that only a window can show.
//
// Every call has a default that does nothing, so a front end without a window
// (the command line) implements none of it and tests record only what they
// check. UI thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/info_panel.h"
#include "app/settings.h"
#include "app/shell_layout.h"

namespace parlex2 {

class ShellWindow {
 public:
  virtual ~ShellWindow() = default;

  // Child controls, by ID (command_ids.h).
  virtual void EnableControl(int /*id*/, bool /*enabled*/) {}
  virtual void ShowControl(int /*id*/, bool /*shown*/) {}
  virtual void SetControlText(int /*id*/, std::string_view /*text*/) {}
  virtual std::string ControlText(int /*id*/) { return {}; }
  // Moves and resizes a control (with repaint); an anchored one is then
  // redrawn whole.
  virtual void MoveControl(int /*id*/, const ControlRect& /*rect*/, bool /*anchored*/) {}
  // Keyboard focus to the command box, its text selected when asked.
  virtual void FocusCommandBox(bool /*selectAll*/) {}

  // True when `param` (a command message's second parameter) is the handle
  // of one of the window's child controls: a notification, not a mark.
  virtual bool IsControlHandle(std::intptr_t /*param*/) { return false; }

  // The offset in the results pane's whole text (ShellHost::ResultsText) of
  // the first character of the line holding the caret; nothing when a
  // selection is made.
  virtual std::optional<std::size_t> ResultsCaretLineStart() { return std::nullopt; }

  // Rebuilds the information panel from its spans, scrolled to the bottom.
  virtual void ShowInfoPanel(const std::vector<InfoSpan>& /*spans*/) {}

  virtual void SetTitle(std::string_view /*title*/) {}
  virtual void SetMenuItemEnabled(int /*id*/, bool /*enabled*/) {}
  virtual void SetMenuItemChecked(int /*id*/, bool /*checked*/) {}

  // Outer and client sizes, for the layout pass.
  virtual WindowSize OuterSize() { return {}; }
  virtual WindowSize ClientSize() { return {}; }

  // The Connect dialog, modal; it leaves its outcome in the link's connected
  // flag.
  virtual void ShowConnectDialog() {}
};

}  // namespace parlex2
