#include "app/shell_layout.h"

#include "common/command_ids.h"
#include "common/shell_state.h"

namespace parlex2 {
namespace {

constexpr ControlLayout kLayouts[] = {
    {IDC_RESULTS,
     "Edit",
     "",
     {6, 6, 648, kTerminalDesignHeight},
     ControlFont::FixedPitch,
     Anchor::None,
     Growth::WidthAndHeight,
     false},
    {IDC_INFO,
     "RichEdit20A",
     "",
     {6, 6, 138, kTerminalDesignHeight},
     ControlFont::Gui,
     Anchor::Right,
     Growth::Height,
     false},
    {IDC_COMMAND,
     "Edit",
     "",
     {6, 6, 706, 24},
     ControlFont::Gui,
     Anchor::Bottom,
     Growth::Width,
     false},
    {IDC_SEND,
     "Button",
     "Send",
     {6, 6, 75, 24},
     ControlFont::GuiBold,
     Anchor::BottomRight,
     Growth::None,
     false},
    {IDC_SCRIPT_LIST,
     "Listbox",
     "",
     {6, 6, 706, 152},
     ControlFont::Gui,
     Anchor::Bottom,
     Growth::Width,
     true},
    {IDC_RUN,
     "Button",
     "Run",
     {6, 134, 75, 24},
     ControlFont::GuiBold,
     Anchor::BottomRight,
     Growth::None,
     true},
    {IDC_STEP,
     "Button",
     "Step",
     {6, 108, 75, 24},
     ControlFont::GuiBold,
     Anchor::BottomRight,
     Growth::None,
     true},
    {IDC_CLOSE,
     "Button",
     "Close",
     {6, 82, 75, 24},
     ControlFont::GuiBold,
     Anchor::BottomRight,
     Growth::None,
     true},
};

bool GrowsInWidth(Growth g) { return g == Growth::Width || g == Growth::WidthAndHeight; }
bool GrowsInHeight(Growth g) { return g == Growth::Height || g == Growth::WidthAndHeight; }
bool AnchoredRight(Anchor a) { return a == Anchor::Right || a == Anchor::BottomRight; }
bool AnchoredBottom(Anchor a) { return a == Anchor::Bottom || a == Anchor::BottomRight; }

}  // namespace

std::span<const ControlLayout> ControlLayouts() { return kLayouts; }

const ControlLayout* FindControlLayout(int id) {
  for (const ControlLayout& row : kLayouts) {
    if (row.id == id) return &row;
  }
  return nullptr;
}

bool ControlShown(int id, int scriptState) {
  const ControlLayout* row = FindControlLayout(id);
  if (!row) return false;
  if (id == IDC_RESULTS || id == IDC_INFO) return true;
  return row->scriptPanel == (scriptState != kScriptNone);
}

std::vector<ControlPlacement> LayoutControls(WindowSize outer, WindowSize client,
                                             WindowSize reference, int scriptState) {
  const int dx = outer.width - reference.width;
  const int dy = outer.height - reference.height;
  const int tallHeight =
      scriptState != kScriptNone ? kScriptPanelDesignHeight : kTerminalDesignHeight;
  std::vector<ControlPlacement> placements;
  for (const ControlLayout& row : kLayouts) {
    if (row.anchor == Anchor::None && row.growth == Growth::None) continue;
    ControlRect design = row.design;
    if (row.id == IDC_RESULTS || row.id == IDC_INFO) design.height = tallHeight;
    ControlRect rect;
    rect.width = design.width + (GrowsInWidth(row.growth) ? dx : 0);
    rect.height = design.height + (GrowsInHeight(row.growth) ? dy : 0);
    rect.x = AnchoredRight(row.anchor) ? client.width - rect.width - design.x : design.x;
    rect.y = AnchoredBottom(row.anchor) ? client.height - rect.height - design.y : design.y;
    placements.push_back({row.id, rect, row.anchor != Anchor::None});
  }
  return placements;
}

}  // namespace parlex2
