#include <gtest/gtest.h>

#include <climits>
#include <sstream>

#include "common/clock.h"
#include "common/owner_stack.h"
#include "common/text.h"

namespace parlex2 {
namespace {

using Fields = std::vector<std::string>;

TEST(SplitText, KeepsInnerEmptyFieldsButNoTrailingOne) {
  EXPECT_EQ(SplitText("Veltmark,M200,1234,2.01", ','),
            (Fields{"Veltmark", "M200", "1234", "2.01"}));
  EXPECT_EQ(SplitText("a,,b,", ','), (Fields{"a", "", "b"}));
  EXPECT_EQ(SplitText(",a", ','), (Fields{"", "a"}));
  EXPECT_EQ(SplitText(",", ','), (Fields{""}));
  EXPECT_EQ(SplitText("", ','), Fields{});
  EXPECT_EQ(SplitText("no separator", ','), Fields{"no separator"});
  EXPECT_EQ(SplitText("12_MAR_2023", '_'), (Fields{"12", "MAR", "2023"}));
}

// A line ends at its last CR, else its last LF; a long line comes in pieces
// of the buffer size less one; the text ends at a zero byte; empty lines count.
TEST(ReadTextLine, SplitsAsTheProgramReadsFiles) {
  struct Case {
    std::string input;
    std::size_t size;
    Fields lines;
  };
  const Case cases[] = {
      {"first\r\nsecond\nthird\rjunk\nlast", 256, {"first", "second", "third", "last"}},
      {std::string(10, 'x') + "\n", 5, {"xxxx", "xxxx", "xx"}},
      {std::string("ab\0cd\n\n", 7), 256, {"ab", ""}},
  };
  for (const Case& c : cases) {
    std::istringstream in(c.input);
    Fields lines;
    for (std::string line; ReadTextLine(in, line, c.size);) lines.push_back(line);
    EXPECT_EQ(lines, c.lines) << c.input;
  }
}

TEST(AtoI, FollowsTheCLibrary) {
  EXPECT_EQ(AtoI("42"), 42);
  EXPECT_EQ(AtoI(" \t\n\v\f\r-17xyz"), -17);
  EXPECT_EQ(AtoI("+8"), 8);
  EXPECT_EQ(AtoI("abc"), 0);
  EXPECT_EQ(AtoI(""), 0);
  EXPECT_EQ(AtoI("- 5"), 0);
  EXPECT_EQ(AtoI("3.9"), 3);
  EXPECT_EQ(AtoI("99999999999999999999"), INT_MAX);
  EXPECT_EQ(AtoI("-99999999999999999999"), INT_MIN);
  EXPECT_EQ(AtoI("-2147483648"), INT_MIN);
  EXPECT_EQ(AtoI("2147483648"), INT_MAX);
  EXPECT_EQ(AtoI("+-3"), 0);
}

TEST(NoCase, OnlyAsciiLettersFoldAndLengthsCount) {
  EXPECT_TRUE(StartsWithNoCase("PaUse,3", "pause"));
  EXPECT_FALSE(StartsWithNoCase("pau", "pause"));
  EXPECT_TRUE(EqualNoCase("GTEQ", "gteq"));
  EXPECT_FALSE(EqualNoCase("gte", "gteq"));
  EXPECT_FALSE(EqualNoCase("[", "{"));  // 0x5B and 0x7B are no letters
  EXPECT_EQ(LowerCase("Main.HEX \xC4"), "main.hex \xC4");
}

TEST(PathSeparators, AreThePlatformsOwn) {
  EXPECT_EQ(LastPathSeparator("dir/sub/a.hex"), 7u);
  EXPECT_EQ(LastPathSeparator("a.hex"), std::string_view::npos);
#ifdef _WIN32
  EXPECT_EQ(LastPathSeparator("C:\\dir/sub\\a.hex"), 10u);
#else
  EXPECT_EQ(LastPathSeparator("dir/a\\b.hex"), 3u);  // a backslash names no folder here
#endif
}

TEST(WaitMsForSystem, LargeWaitsStayPositiveForSystemCalls) {
  // A poll time-out that turns negative waits for ever.
  EXPECT_EQ(WaitMsForSystem(5000), 5000);
  EXPECT_EQ(WaitMsForSystem(0x80000000u), 0x7FFFFFFF);
  EXPECT_EQ(WaitMsForSystem(~std::uint64_t{0}), 0x7FFFFFFF);
}

// The stamp itself, and its length: ShellTerminal's time stamp and recall tests.
TEST(LineTimeStamp, RecognitionNeedsTheWholeStampAndItsBlank) {
  const struct {
    const char* line;
    bool stamped;
  } cases[] = {{"23:59:59.999 > volt?", true}, {"00:00:00.000 ", true},   {"00:00:00.000", false},
               {"0:00:00.000 x", false},       {"00:00:00,000 x", false}, {"00:0a:00.000 x", false},
               {"> 00:00:00.000 ", false}};
  for (const auto& c : cases) EXPECT_EQ(StartsWithLineTimeStamp(c.line), c.stamped) << c.line;
}

TEST(OwnerStack, TopDialogOwnsThenBaseComesBackWhateverOrderTheyEnd) {
  int mainWindow = 0, connect = 0, choose = 0;
  OwnerStack<int*> owners;
  EXPECT_EQ(owners.Current(), nullptr);
  owners.SetBase(&mainWindow);
  EXPECT_EQ(owners.Current(), &mainWindow);

  owners.Push(&connect);
  owners.Push(&choose);
  EXPECT_EQ(owners.Current(), &choose);
  owners.Remove(&choose);
  EXPECT_EQ(owners.Current(), &connect);

  // Out of order: the inner dialog stays on top after the outer one goes.
  owners.Push(&choose);
  owners.Remove(&connect);
  EXPECT_EQ(owners.Current(), &choose);
  owners.Remove(&choose);
  owners.Remove(&choose);  // a second removal changes nothing
  EXPECT_EQ(owners.Current(), &mainWindow);
}

}  // namespace
}  // namespace parlex2
