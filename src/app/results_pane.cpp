#include "app/results_pane.h"

#include <algorithm>

#include "common/clock.h"

namespace parlex2 {
namespace {

constexpr std::size_t kFirstBatchLines = 200;
// An append's cost has a part that does not shrink with the batch: below
// this, smaller batches would only show fewer lines for the same wait.
constexpr std::size_t kMinBatchLines = 100;
constexpr std::size_t kMaxBatchLines = 1000;
// The text before the control's first line is kept in blocks of about this
// size, so a long stream never makes the program copy all it has kept.
constexpr std::size_t kHistoryBlock = std::size_t{1} << 20;

std::size_t LineFeeds(std::string_view text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// The offset just past the `lines`-th line feed at or after `from`; the end
// of `text` when it holds fewer.
std::size_t AfterLines(std::string_view text, std::size_t from, std::size_t lines) {
  std::size_t at = from;
  for (std::size_t n = 0; n < lines; ++n) {
    const std::size_t feed = text.find('\n', at);
    if (feed == std::string_view::npos) return text.size();
    at = feed + 1;
  }
  return at;
}

// The offset from which `text` holds its last `lines` line feeds: just past
// the line feed before them (0 when there is none).
std::size_t NewestLinesStart(std::string_view text, std::size_t lines) {
  std::size_t at = text.size();
  for (std::size_t n = 0; n <= lines; ++n) {
    if (at == 0) return 0;
    at = text.rfind('\n', at - 1);
    if (at == std::string_view::npos) return 0;
  }
  return at + 1;
}

}  // namespace

ResultsPane::ResultsPane(PaneControl& control, std::size_t scrollbackLines)
    : control_(control),
      scrollbackLines_(std::max<std::size_t>(scrollbackLines, 1)),
      batchLines_(std::min(kFirstBatchLines, scrollbackLines_)) {}

void ResultsPane::Append(std::string_view text) {
  tail_.append(text);
  waitingLines_ += LineFeeds(text);
}

void ResultsPane::Clear() {
  history_.clear();
  historyLength_ = 0;
  tail_.clear();
  shownLength_ = 0;
  shownLines_ = waitingLines_ = 0;
  control_.ClearControl();
}

std::string ResultsPane::Text() const {
  std::string text;
  text.reserve(Length());
  for (const std::string& block : history_) text += block;
  text += tail_;
  return text;
}

void ResultsPane::AdoptShown(std::string_view controlText) {
  tail_.replace(0, shownLength_, controlText);
  shownLength_ = controlText.size();
  shownLines_ = LineFeeds(controlText);
}

bool ResultsPane::UpdateDue(std::uint64_t nowMs) const {
  return shownLength_ < tail_.size() && nowMs >= nextUpdateMs_;
}

void ResultsPane::Update() {
  if (shownLength_ >= tail_.size()) return;
  Clock& clock = GetClock();
  const std::uint64_t start = clock.TickMs();
  const std::size_t batch = std::min(waitingLines_, batchLines_);
  if (waitingLines_ > scrollbackLines_) {
    SkipToNewest();
  } else if (shownLines_ > 0 && shownLines_ + batch > scrollbackLines_) {
    Trim(std::max(scrollbackLines_ / kScrollbackTrimShare, shownLines_ + batch - scrollbackLines_));
  } else {
    ShowNext();
    const std::uint64_t took = clock.TickMs() - start;
    // Halve the batch after an append over the budget; double it while
    // appends of a full batch take under a quarter of it (what an append
    // costs also grows with the lines the control holds).
    if (took > kPaneUpdateBudgetMs) {
      batchLines_ = std::max(std::min(kMinBatchLines, scrollbackLines_), batchLines_ / 2);
    } else if (batch == batchLines_ && took * 4 < kPaneUpdateBudgetMs) {
      batchLines_ = std::min({batchLines_ * 2, kMaxBatchLines, scrollbackLines_});
    }
  }
  const std::uint64_t end = clock.TickMs();
  nextUpdateMs_ = shownLength_ < tail_.size() ? end : end + (end - start);
}

void ResultsPane::ShowNext() {
  const std::size_t batch = std::min(waitingLines_, batchLines_);
  // A batch ends after its last line feed; the last batch takes a partial
  // line at the end of the text with it.
  const std::size_t end =
      batch < waitingLines_ ? AfterLines(tail_, shownLength_, batch) : tail_.size();
  control_.AppendToControl(std::string_view(tail_).substr(shownLength_, end - shownLength_));
  shownLength_ = end;
  shownLines_ += batch;
  waitingLines_ -= batch;
}

void ResultsPane::Trim(std::size_t lines) {
  lines = std::min(lines, shownLines_);
  const std::size_t end = AfterLines(tail_, 0, lines);
  control_.RemoveFromControlStart(end, shownLength_);
  ToHistory(end);
  shownLength_ -= end;
  shownLines_ -= lines;
}

void ResultsPane::SkipToNewest() {
  control_.ClearControl();
  const std::size_t lines = std::min(batchLines_, waitingLines_);
  ToHistory(NewestLinesStart(tail_, lines));
  shownLength_ = 0;
  shownLines_ = 0;
  waitingLines_ = lines;
}

void ResultsPane::ToHistory(std::size_t length) {
  if (history_.empty() || history_.back().size() + length > kHistoryBlock) {
    history_.emplace_back();
    history_.back().reserve(std::max(kHistoryBlock, length));
  }
  history_.back().append(tail_, 0, length);
  historyLength_ += length;
  tail_.erase(0, length);
}

}  // namespace parlex2
