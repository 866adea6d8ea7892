// The results pane of the main window: everything written to it since it was
// last cleared, and the edit control that shows the newest of it.
//
// An edit control's append costs time that grows with the lines it holds
// (under Wine every append walks the control's whole list of lines), so the
// control is kept to a scrollback of kScrollbackLines lines while the program
// keeps the whole text: saving and printing write all of it, exactly as an
// unlimited pane would hold it. Text reaches the control in paced steps of
// bounded cost, so the window keeps answering while an instrument streams.
// A pane that never reaches the scrollback limit shows what an unlimited
// pane shows.
//
// UI thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace parlex2 {

// The lines the control holds at most. Chosen from the results pane
// benchmark (README): past it, one append to the bare edit control under
// Wine takes longer than the window may stay unanswered.
inline constexpr std::size_t kScrollbackLines = 10000;
// When the control is full, a tenth of its lines is dropped at once:
// dropping the oldest lines costs about as much whatever their number, so it
// is done rarely.
inline constexpr std::size_t kScrollbackTrimShare = 10;
// The time one change to the control should take; appends are sized to it.
inline constexpr std::uint64_t kPaneUpdateBudgetMs = 50;

// What the pane needs from the edit control that shows it. Each call leaves
// the caret at the end of the text, scrolled into view.
class PaneControl {
 public:
  virtual ~PaneControl() = default;
  // Appends `text` to the control.
  virtual void AppendToControl(std::string_view text) = 0;
  // Removes the first `count` characters (whole lines) of the control, which
  // holds `length` characters.
  virtual void RemoveFromControlStart(std::size_t count, std::size_t length) = 0;
  virtual void ClearControl() = 0;
};

class ResultsPane {
 public:
  explicit ResultsPane(PaneControl& control, std::size_t scrollbackLines = kScrollbackLines);

  // Keeps `text` at the end of the pane's text; a later Update shows it.
  void Append(std::string_view text);
  // Empties the text and the control.
  void Clear();

  // Everything appended since the last clear.
  std::string Text() const;
  std::size_t Length() const { return historyLength_ + tail_.size(); }
  // The offset in Text() of the control's first character: the control holds
  // Text() from there, up to the text not yet shown.
  std::size_t ShownStart() const { return historyLength_; }
  std::size_t ShownLength() const { return shownLength_; }
  std::size_t ShownLines() const { return shownLines_; }

  // The user typed into the control or cut from it: `controlText` replaces
  // the part of the text the control showed.
  void AdoptShown(std::string_view controlText);

  // True when text waits to be shown and the pause after the previous
  // update is over. An update that left nothing waiting is followed by a
  // pause as long as it took, so a slow stream's lines gather into fewer,
  // larger appends and the window spends at most half its time on them; a
  // backlog is shown without pauses.
  bool UpdateDue(std::uint64_t nowMs) const;

  // One change to the control, timed by the clock: when more than a
  // scrollback of lines waits, the control is emptied, to show the newest
  // batch of lines next (the lines in between are kept in the text, and an
  // unlimited control would have dropped them from view anyway); when the
  // next lines would overfill the control, its oldest lines are dropped;
  // otherwise the next lines are appended, as many as fit the budget.
  void Update();

  // The lines one append may carry now (adapted to what appends cost).
  std::size_t BatchLines() const { return batchLines_; }

 private:
  void ShowNext();
  void Trim(std::size_t lines);
  void SkipToNewest();
  // Moves the first `length` characters of the tail to the history.
  void ToHistory(std::size_t length);

  PaneControl& control_;
  std::size_t scrollbackLines_;
  // The text before the control's first character, in blocks.
  std::vector<std::string> history_;
  std::size_t historyLength_ = 0;
  // The control's text (the first shownLength_ characters), then the text
  // waiting to be shown.
  std::string tail_;
  std::size_t shownLength_ = 0;
  std::size_t shownLines_ = 0;    // line feeds in the control's text
  std::size_t waitingLines_ = 0;  // line feeds in the text waiting
  std::size_t batchLines_;
  std::uint64_t nextUpdateMs_ = 0;
};

}  // namespace parlex2
