// Script files: the script-file test, the list's loading rules, choosing a
// file, and replacing an open script.
#include "script/script_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/fake_shell.h"
#include "support/temp_folder.h"

namespace parlex2::testing {
namespace {

// What ScanScript lists for `text`, each line after its file line, then the
// script-file test's counts.
std::string Scan(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> lines;
  std::vector<int> numbers;
  const ScriptScan scan = ScanScript(in, &lines, &numbers);
  std::string listed;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    listed += std::to_string(numbers.at(i)) + ":" + lines[i] + "|";
  }
  return listed + " quotes " + std::to_string(scan.quoteLines) + ", hashes " +
         std::to_string(scan.hashLines);
}

// Lines of 2048 characters or more are counted but not listed; a physical
// line is read in pieces of 4095, which share its file line, and a piece
// ending right before its line feed leaves the feed as an empty line.
TEST(ScriptScanTest, ListedLinesWithTheirFileLinesAndCounts) {
  const std::string ok(2047, 'x'), tooLong = "\"" + std::string(2047, 'y');
  const std::string physical = "#" + std::string(4094, 'a') + std::string(905, 'b');
  const std::string bs(905, 'b'), piece = "=" + std::string(4094, 'c');
  const std::pair<std::string, std::string> cases[] = {
      {"\"a\r\n\r\n\n# b\r\n=c\rtail\n\x1A\n comment",
       "1:\"a|4:# b|5:=c|7: comment| quotes 1, hashes 1"},
      {"=1\n=2\ntext\n \"indented\n\t#tab\n",
       "1:=1|2:=2|3:text|4: \"indented|5:\t#tab| quotes 0, hashes 0"},
      {"#\n", "1:#| quotes 0, hashes 1"},
      {"", " quotes 0, hashes 0"},
      {ok + "\n" + tooLong + "\n", "1:" + ok + "| quotes 1, hashes 0"},
      {"\"a\r\n\r\n" + physical + "\n" + piece + "\n\n\"z\n",
       "1:\"a|3:" + bs + "|6:\"z| quotes 2, hashes 1"},
  };
  for (const auto& [text, scanned] : cases) EXPECT_EQ(Scan(text), scanned) << text.substr(0, 40);
}

TEST(ScriptFileTest, LoadMessagesAndList) {
  TempFolder folder("parlex2-script-file");
  FakeShell shell;
  const std::string missing = folder.File("missing.txt");
  EXPECT_FALSE(LoadScriptFile(shell, missing, true));
  ASSERT_EQ(shell.ui.messages.size(), 1u);
  EXPECT_EQ(shell.ui.messages[0].text, "Unable to read file " + missing);
  EXPECT_EQ(shell.ui.messages[0].caption, "Parlex2");
  EXPECT_EQ(shell.ui.messages[0].icon, MessageIcon::Information);
  EXPECT_EQ(shell.ui.messages[0].buttons, MessageButtons::Ok);

  // The list is filled even when the test fails.
  const std::string notes = folder.Write("notes.txt", "just\nnotes\n");
  EXPECT_FALSE(LoadScriptFile(shell, notes, true));
  EXPECT_EQ(shell.ui.messages.back().text, notes + " does not appear to be a script file");
  EXPECT_EQ(shell.ScriptLineCount(), 2);
}

// The choice made here: a file that fails the test does not replace an open
// script, and its message is shown once. A cancelled dialog, or a name longer
// than the dialog's buffer, opens nothing and shows no message.
TEST(ScriptFileTest, OpenScriptKeepsTheOpenScriptWhenTheNewFileFails) {
  TempFolder folder("parlex2-script-file");
  FakeShell shell;
  shell.Load({"\"x", "\"y", "\"z"});  // replaced whole, its selection dropped
  shell.SelectScriptLine(2);
  shell.ui.files.push_back(folder.Write("good.txt", "\"one\n\"two\n"));
  EXPECT_EQ(OpenScript(shell.engine, true), OpenScriptResult::Opened);
  ASSERT_EQ(shell.ui.openDialogs.size(), 1u);
  EXPECT_EQ(shell.ui.openDialogs[0].title, "Select Script File");
  EXPECT_EQ(shell.ui.openDialogs[0].filterName, "Script Files");
  EXPECT_EQ(shell.ui.openDialogs[0].filterPattern, "*.txt");
  EXPECT_EQ(shell.state.scriptState, kScriptStopped);
  EXPECT_EQ(shell.ScriptLineCount(), 2);
  EXPECT_EQ(shell.ScriptSelection(), -1);
  EXPECT_EQ(shell.engine.scriptPath, folder.File("good.txt"));

  shell.SelectScriptLine(1);
  shell.ui.files = {folder.Write("bad.txt", "=1\n=2\n=3\n"), std::nullopt, std::string(300, 'p')};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(OpenScript(shell.engine, true), OpenScriptResult::NotOpened);
    const auto posted = shell.TakePosted();
    ASSERT_TRUE(posted.has_value());
    EXPECT_EQ(posted->id, ID_FOCUS_COMMAND);
  }
  EXPECT_EQ(shell.ui.messages.size(), 1u);
  EXPECT_EQ(shell.ScriptLineCount(), 2);
  EXPECT_EQ(shell.ScriptSelection(), 1);
  EXPECT_EQ(shell.state.scriptState, kScriptStopped);
  EXPECT_EQ(shell.engine.scriptPath, folder.File("good.txt"));

  // Ignored while stepping or not connected (while running:
  // ShellCommands.MarksAreToldApartFromAButtonsHandle).
  shell.ui.files.push_back(folder.Write("other.txt", "\"three\n"));
  EXPECT_EQ(OpenScript(shell.engine, false), OpenScriptResult::Ignored);
  shell.state.scriptState = kScriptStep;
  EXPECT_EQ(OpenScript(shell.engine, true), OpenScriptResult::Ignored);
  EXPECT_EQ(shell.ui.openDialogs.size(), 4u);
}

}  // namespace
}  // namespace parlex2::testing
