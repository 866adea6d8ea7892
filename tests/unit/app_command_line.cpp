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

}  // namespace
}  // namespace parlex2
