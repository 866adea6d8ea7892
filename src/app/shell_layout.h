// The main window's eight child controls as one table (creation order, design
// rectangle, font, anchor, growth, visibility), and the layout pass that
// places them for a window size and a script-panel state.
//
// A control anchored to the right or bottom keeps its distance from that edge
// of the client area: its design x or y is that margin, not a position. A
// control that grows takes the window's size change beyond the reference size
// into its width or height.
#pragma once

#include <span>
#include <vector>

#include "app/settings.h"

namespace parlex2 {

enum class ControlFont { FixedPitch, Gui, GuiBold };
enum class Anchor { None, Right, Bottom, BottomRight };
enum class Growth { None, Width, Height, WidthAndHeight };

struct ControlRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;

  bool operator==(const ControlRect&) const = default;
};

struct ControlLayout {
  int id;
  const char* className;
  const char* text;
  ControlRect design;  // x, y: margins from the anchored edges
  ControlFont font;
  Anchor anchor;
  Growth growth;
  bool scriptPanel;  // one of the four controls shown only with a script open
};

// Design heights of the results pane and the information panel: with the
// command box below them, and shorter with the script panel's list.
inline constexpr int kTerminalDesignHeight = 514;
inline constexpr int kScriptPanelDesignHeight = 384;

// The eight rows, in creation order.
std::span<const ControlLayout> ControlLayouts();

// The row of control `id`; null for an ID that is no child control.
const ControlLayout* FindControlLayout(int id);

// Whether control `id` is shown in `scriptState`: the command box and Send
// button with no script, the list and its three buttons with one; the results
// pane and information panel always.
bool ControlShown(int id, int scriptState);

struct ControlPlacement {
  int id;
  ControlRect rect;
  bool anchored;  // to be redrawn whole after the move
};

// One layout pass: where each control goes for the window's outer size
// `outer`, its client size `client` and the reference size `reference`.
std::vector<ControlPlacement> LayoutControls(WindowSize outer, WindowSize client,
                                             WindowSize reference, int scriptState);

}  // namespace parlex2
