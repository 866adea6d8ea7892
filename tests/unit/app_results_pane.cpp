// The results pane: the whole text kept, the edit control held to its
// scrollback in paced changes of bounded cost.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "app/results_pane.h"
#include "support/fake_clock.h"

namespace parlex2::testing {
namespace {

// An edit control as a string. Each change may move the fake clock on by a
// cost: a fixed part and a part per line appended.
class FakeControl final : public PaneControl {
 public:
  explicit FakeControl(FakeClock& clock) : clock_(clock) {}

  std::string text;
  std::size_t mostLines = 0;
  std::uint64_t fixedMs = 0;
  std::uint64_t perHundredLinesMs = 0;

  std::size_t LineCount() const {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
  }
  void AppendToControl(std::string_view added) override {
    text.append(added);
    Changed(static_cast<std::size_t>(std::count(added.begin(), added.end(), '\n')));
  }
  void RemoveFromControlStart(std::size_t count, std::size_t length) override {
    EXPECT_EQ(length, text.size());
    ASSERT_TRUE(count > 0 && count <= text.size() && text[count - 1] == '\n');  // whole lines
    text.erase(0, count);
    Changed(0);
  }
  void ClearControl() override {
    text.clear();
    Changed(0);
  }

 private:
  void Changed(std::size_t linesAdded) {
    mostLines = std::max(mostLines, LineCount());
    clock_.Advance(fixedMs + perHundredLinesMs * linesAdded / 100);
  }
  FakeClock& clock_;
};

std::string Lines(int from, int count) {
  std::string text;
  for (int i = from; i < from + count; ++i) text += "stream," + std::to_string(i) + ",1.234\r\n";
  return text;
}

struct PaneTest : ::testing::Test {
  FakeClock clock;
  FakeControl control{clock};

  // Updates (as the window's timer does) until nothing waits.
  void ShowAll(ResultsPane& pane) {
    for (int i = 0; i < 100000 && pane.ShownStart() + pane.ShownLength() < pane.Length(); ++i) {
      clock.Advance(10);
      if (pane.UpdateDue(clock.TickMs())) pane.Update();
    }
  }
};

// Below the limit the control holds exactly the pane's text, whatever the
// pieces: partial lines, lines in several appends, the echo of a command.
TEST_F(PaneTest, BelowTheLimitTheControlHoldsTheWholeText) {
  ResultsPane pane(control, 100);
  const std::string pieces[] = {"> volt?\r\n", "1.2", "34\r\n", Lines(1, 50), "!!no line end"};
  std::string all;
  for (const std::string& piece : pieces) {
    pane.Append(piece);
    all += piece;
    ShowAll(pane);
    EXPECT_EQ(control.text, all);
  }
  EXPECT_EQ(pane.Text(), all);
  EXPECT_EQ(pane.ShownStart(), 0u);
  EXPECT_EQ(pane.ShownLines(), 52u);

  pane.Clear();
  EXPECT_EQ(pane.Text(), "");
  EXPECT_EQ(control.text, "");
  pane.Append("after\r\n");
  ShowAll(pane);
  EXPECT_EQ(control.text, "after\r\n");
  EXPECT_EQ(pane.Text(), "after\r\n");  // what Save to File writes after a clear
}

// More than a scrollback waiting (a stream faster than the control): the
// control is emptied and shows the newest lines; nothing is dropped from the
// text, and what the control shows runs on without a gap.
TEST_F(PaneTest, ABacklogOfMoreThanTheScrollbackSkipsToTheNewestLines) {
  ResultsPane pane(control, 500);
  pane.Append(Lines(1, 100));
  pane.Update();
  pane.Append(Lines(101, 2000));
  pane.Update();
  EXPECT_EQ(control.text, "");
  pane.Update();
  EXPECT_EQ(control.text, Lines(1901, 200));  // the newest batch
  pane.Append(Lines(2101, 50));
  ShowAll(pane);
  EXPECT_EQ(pane.Text(), Lines(1, 2150));
  EXPECT_EQ(control.text, Lines(1901, 250));
}

// Each change is timed: appends over the budget halve the batch (not below
// 100 lines), quick full ones double it; an update that showed everything is
// followed by as long a pause, a backlog by none.
TEST_F(PaneTest, AppendsAreSizedToTheBudgetAndPaced) {
  ResultsPane pane(control, 100000);
  control.perHundredLinesMs = 20;  // 200 lines: 40 ms, within the 50 ms budget
  pane.Append(Lines(1, 10000));
  pane.Update();
  EXPECT_EQ(control.LineCount(), 200u);
  EXPECT_EQ(pane.BatchLines(), 200u);
  EXPECT_TRUE(pane.UpdateDue(clock.TickMs()));  // a backlog: no pause

  control.perHundredLinesMs = 5;  // 200 lines: 10 ms, under a quarter of the budget
  pane.Update();
  EXPECT_EQ(pane.BatchLines(), 400u);
  control.perHundredLinesMs = 40;  // 400 lines: 160 ms
  pane.Update();
  EXPECT_EQ(pane.BatchLines(), 200u);
  control.fixedMs = 200;  // however small the batch, over the budget
  for (int i = 0; i < 5; ++i) pane.Update();
  EXPECT_EQ(pane.BatchLines(), 100u);

  ShowAll(pane);
  control.fixedMs = 30;
  control.perHundredLinesMs = 0;
  pane.Append(Lines(1, 3));
  pane.Update();  // shows everything in 30 ms: 30 ms of pause follow
  pane.Append(Lines(4, 3));
  EXPECT_FALSE(pane.UpdateDue(clock.TickMs() + 29));
  EXPECT_TRUE(pane.UpdateDue(clock.TickMs() + 30));
}

// Past the limit the control shows the newest whole lines, as many as the
// limit and never more (a stream past the scrollback: the end-to-end pane
// test). What the user typed into or cut from the control becomes the pane's
// text there; the program's appends go on after it.
TEST_F(PaneTest, PastTheLimitTheNewestShowAndTheUsersEditsBecomeThePanesText) {
  ResultsPane pane(control, 3);
  pane.Append(Lines(1, 3));
  ShowAll(pane);
  pane.Append(Lines(4, 2));
  ShowAll(pane);
  EXPECT_EQ(control.text, Lines(3, 3));
  EXPECT_LE(control.mostLines, 3u);
  const std::size_t start = pane.ShownStart();
  pane.Append("waiting\r\n");
  pane.AdoptShown("my note\r\n");
  EXPECT_EQ(pane.Text(), Lines(1, 5).substr(0, start) + "my note\r\nwaiting\r\n");
  EXPECT_EQ(pane.ShownLines(), 1u);
  control.text = "my note\r\n";
  ShowAll(pane);
  EXPECT_EQ(control.text, "my note\r\nwaiting\r\n");
}

}  // namespace
}  // namespace parlex2::testing
