#include <gtest/gtest.h>

#include "app/command_line.h"

namespace parlex2 {
namespace {

TEST(CommandLineTest, OnlyDashDOneRemovesTheDebugFile) {
  struct Case {
    std::vector<std::string> args;
    bool remove;
  };
  const Case cases[] = {
      {{}, false},
      {{"-d1"}, true},
      {{"-d10"}, true},  // only the third character is looked at
      {{"-d"}, false},
      {{"-dx"}, false},
      {{"-D1"}, false},
      {{"d1"}, false},
      {{"/d1"}, false},
      {{"file.txt", "-d1"}, true},
      {{"-d0", "-d2"}, false},
  };
  for (const Case& c : cases) {
    std::string joined;
    for (const auto& a : c.args) joined += a + " ";
    EXPECT_EQ(ParseCommandLine(c.args).removeDebugFile, c.remove) << joined;
  }
}

TEST(CommandLineTest, LogOptionTakesTheNextArgumentOrWhatFollowsTheEquals) {
  struct Case {
    std::vector<std::string> args;
    std::optional<std::string> log;
    bool remove;
  };
  const Case cases[] = {
      {{"-log", "c:\\logs\\a.log"}, "c:\\logs\\a.log", false},
      {{"--log", "b.log", "-d1"}, "b.log", true},
      {{"--log=c.log"}, "c.log", false},
      {{"-log=d e.log"}, "d e.log", false},
      // The file name is never read as an option of its own.
      {{"-log", "-d1"}, "-d1", false},
      {{"-log", "--log"}, "--log", false},
      {{"-log"}, std::nullopt, false},
      {{"-log="}, std::nullopt, false},
      {{"-d1", "-log"}, std::nullopt, true},
      {{"-logfile", "x.log"}, std::nullopt, false},
      {{"-LOG", "x.log"}, std::nullopt, false},
      {{"-log", "first.log", "--log=second.log"}, "second.log", false},
  };
  for (const Case& c : cases) {
    std::string joined;
    for (const auto& a : c.args) joined += a + " ";
    const CommandLineOptions options = ParseCommandLine(c.args);
    EXPECT_EQ(options.commsLogFile, c.log) << joined;
    EXPECT_EQ(options.removeDebugFile, c.remove) << joined;
  }
}

}  // namespace
}  // namespace parlex2
