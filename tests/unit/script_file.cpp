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

std::vector<std::string> ListOf(const std::string& text, ScriptScan* scanOut = nullptr) {
  std::istringstream in(text);
  std::vector<std::string> lines;
  ScriptScan scan = ScanScript(in, &lines);
  if (scanOut) *scanOut = scan;
  return lines;
}

class ScriptFileTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& content) {
    return folder_.Write(name, content);
  }
  TempFolder folder_{"parlex2-script-file"};
  const std::filesystem::path& dir_ = folder_.Path();
};

TEST(ScriptScanTest, ListLinesAndCounts) {
  ScriptScan scan;
  EXPECT_EQ(ListOf("\"a\r\n\r\n\n# b\r\n=c\rtail\n\x1A\n comment", &scan),
            (std::vector<std::string>{"\"a", "# b", "=c", " comment"}));
  EXPECT_EQ(scan.quoteLines, 1);
  EXPECT_EQ(scan.hashLines, 1);

  ListOf("=1\n=2\ntext\n \"indented\n\t#tab\n", &scan);
  EXPECT_FALSE(scan.IsScript());
  ListOf("#\n", &scan);
  EXPECT_TRUE(scan.IsScript());
  ListOf("", &scan);
  EXPECT_FALSE(scan.IsScript());
}

TEST(ScriptScanTest, LongLinesComeInPiecesAndOnlyShortOnesAreListed) {
  const std::string ok(2047, 'x');
  const std::string tooLong = "\"" + std::string(2047, 'y');  // 2048 characters
  ScriptScan scan;
  EXPECT_EQ(ListOf(ok + "\n" + tooLong + "\n", &scan), std::vector<std::string>{ok});
  EXPECT_EQ(scan.quoteLines, 1);  // left out of the list, still counted

  // A physical line of 5000 characters is read as 4095 + 905.
  const std::string physical = "#" + std::string(4094, 'a') + std::string(905, 'b');
  const auto lines = ListOf(physical + "\n\"end\n", &scan);
  EXPECT_EQ(lines, (std::vector<std::string>{std::string(905, 'b'), "\"end"}));
  EXPECT_EQ(scan.hashLines, 1);

  // A piece ending right before its line feed leaves the feed as an empty line.
  EXPECT_EQ(ListOf("\"" + std::string(4094, 'c') + "\n\"z\n").back(), "\"z");

  // Each list line knows its file line: pieces share theirs, and a piece
  // that ends just before its line feed does not count the line twice.
  std::istringstream in("\"a\r\n\r\n" + physical + "\n" + "=" + std::string(4094, 'c') +
                        "\n\n\"z\n");
  std::vector<std::string> listed;
  std::vector<int> numbers;
  ScanScript(in, &listed, &numbers);
  ASSERT_EQ(listed.size(), 3u);  // "a, the 905 b's of line 3, "z
  EXPECT_EQ(listed[1], std::string(905, 'b'));
  EXPECT_EQ(numbers, (std::vector<int>{1, 3, 6}));
}

TEST_F(ScriptFileTest, LoadMessagesAndList) {
  FakeShell shell;
  const std::string missing = (dir_ / "missing.txt").string();
  EXPECT_FALSE(LoadScriptFile(shell, missing, true));
  ASSERT_EQ(shell.ui.messages.size(), 1u);
  EXPECT_EQ(shell.ui.messages[0].text, "Unable to read file " + missing);
  EXPECT_EQ(shell.ui.messages[0].caption, "Parlex2");
  EXPECT_EQ(shell.ui.messages[0].icon, MessageIcon::Information);
  EXPECT_EQ(shell.ui.messages[0].buttons, MessageButtons::Ok);

  // The list is filled even when the test fails.
  const std::string notes = Write("notes.txt", "just\nnotes\n");
  EXPECT_FALSE(LoadScriptFile(shell, notes, true));
  EXPECT_EQ(shell.ui.messages.back().text, notes + " does not appear to be a script file");
  EXPECT_EQ(shell.ScriptLineCount(), 2);

  const std::string script = Write("s.txt", "\"a\r\n=1\r\n");
  shell.SelectScriptLine(1);
  EXPECT_TRUE(LoadScriptFile(shell, script, true));
  EXPECT_EQ(shell.ScriptLineCount(), 2);
  EXPECT_EQ(shell.ScriptSelection(), -1);
  EXPECT_EQ(shell.ui.messages.size(), 2u);
}

TEST_F(ScriptFileTest, SelectScriptFileUsesTheDialogAndTheTest) {
  RecordingUi ui;
  std::string path = "old";
  EXPECT_FALSE(SelectScriptFile(ui, path));  // cancelled
  EXPECT_EQ(path, "");
  ASSERT_EQ(ui.openDialogs.size(), 1u);
  EXPECT_EQ(ui.openDialogs[0].title, "Select Script File");
  EXPECT_EQ(ui.openDialogs[0].filterName, "Script Files");
  EXPECT_EQ(ui.openDialogs[0].filterPattern, "*.txt");
  EXPECT_TRUE(ui.messages.empty());

  const std::string bad = Write("bad.txt", "=1\n");
  ui.files.push_back(bad);
  EXPECT_FALSE(SelectScriptFile(ui, path));
  EXPECT_EQ(path, bad);
  EXPECT_EQ(ui.messages.size(), 1u);

  ui.files.push_back(Write("good.txt", "#echo\n"));
  EXPECT_TRUE(SelectScriptFile(ui, path));

  ui.files.push_back(std::string(300, 'p'));  // longer than the dialog's buffer
  EXPECT_FALSE(SelectScriptFile(ui, path));
  EXPECT_EQ(path, "");
}

// The choice made here: a file that fails the test does not replace an open
// script, and its message is shown once.
TEST_F(ScriptFileTest, OpenScriptKeepsTheOpenScriptWhenTheNewFileFails) {
  FakeShell shell;
  shell.ui.files.push_back(Write("good.txt", "\"one\n\"two\n"));
  EXPECT_EQ(OpenScript(shell.engine, true), OpenScriptResult::Opened);
  EXPECT_EQ(shell.state.scriptState, kScriptStopped);
  EXPECT_EQ(shell.ScriptLineCount(), 2);
  EXPECT_EQ(shell.engine.scriptPath, (dir_ / "good.txt").string());

  shell.SelectScriptLine(1);
  shell.ui.files.push_back(Write("bad.txt", "=1\n=2\n=3\n"));
  EXPECT_EQ(OpenScript(shell.engine, true), OpenScriptResult::NotOpened);
  EXPECT_EQ(shell.ui.messages.size(), 1u);
  EXPECT_EQ(shell.ScriptLineCount(), 2);
  EXPECT_EQ(shell.ScriptSelection(), 1);
  EXPECT_EQ(shell.state.scriptState, kScriptStopped);
  EXPECT_EQ(shell.engine.scriptPath, (dir_ / "good.txt").string());
  const auto posted = shell.TakePosted();
  ASSERT_TRUE(posted.has_value());
  EXPECT_EQ(posted->id, ID_FOCUS_COMMAND);

  // Ignored while running, stepping, or not connected.
  shell.ui.files.push_back(Write("other.txt", "\"three\n"));
  EXPECT_EQ(OpenScript(shell.engine, false), OpenScriptResult::Ignored);
  shell.state.scriptState = kScriptRunning;
  EXPECT_EQ(OpenScript(shell.engine, true), OpenScriptResult::Ignored);
  shell.state.scriptState = kScriptStep;
  EXPECT_EQ(OpenScript(shell.engine, true), OpenScriptResult::Ignored);
  EXPECT_EQ(shell.ui.openDialogs.size(), 2u);
}

}  // namespace
}  // namespace parlex2::testing
