#include <gtest/gtest.h>

#include "app/command_line.h"

namespace parlex2 {
namespace {

// Only "-d" with '1' as its third character removes the debug file (for any
// arguments: fuzz_command_line); the log option takes the next argument or
// what follows the equals.
TEST(CommandLineTest, DebugFileRemovalAndTheLogFile) {
  struct Case {
    std::vector<std::string> args;
    bool remove;
    std::optional<std::string> log;
  };
  const Case cases[] = {
      {{}, false, std::nullopt},
      {{"-d1"}, true, std::nullopt},
      {{"-d"}, false, std::nullopt},
      {{"-dx"}, false, std::nullopt},
      {{"-log", "c:\\logs\\a.log"}, false, "c:\\logs\\a.log"},
      {{"--log", "b.log", "-d1"}, true, "b.log"},
      {{"--log=c.log"}, false, "c.log"},
      {{"-log=d e.log"}, false, "d e.log"},
      // The file name is never read as an option of its own.
      {{"-log", "-d1"}, false, "-d1"},
      {{"-log", "--log"}, false, "--log"},
      {{"-d1", "-log"}, true, std::nullopt},
      {{"-logfile", "x.log"}, false, std::nullopt},
      {{"-LOG", "x.log"}, false, std::nullopt},
      {{"-log", "first.log", "--log=second.log"}, false, "second.log"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const CommandLineOptions options = ParseCommandLine(c.args);
    EXPECT_EQ(options.removeDebugFile, c.remove);
    EXPECT_EQ(options.commsLogFile, c.log);
  }
}

}  // namespace
}  // namespace parlex2
