// The record a script run leaves: tests named after the comment above them
// with their file lines, "=reply" reading what answered the script's last
// command, the status a run ends with, and Result > Save Test Report....
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>

#include "app/shell.h"
#include "script/test_report.h"
#include "support/fake_shell.h"
#include "support/temp_folder.h"

namespace parlex2::testing {
namespace {

struct Named {
  std::string name;
  int line;
  bool passed;
  bool operator==(const Named&) const = default;
};

std::vector<Named> TestsOf(const RunRecord& record) {
  std::vector<Named> tests;
  for (const TestRecord& t : record.tests) tests.push_back({t.name, t.line, t.passed});
  return tests;
}

void PrintTo(const Named& n, std::ostream* os) {
  *os << "{" << n.name << ", " << n.line << ", " << n.passed << "}";
}

TEST(ScriptRecord, TestsAreNamedAfterTheCommentAboveThemAndCarryTheirFileLines) {
  TempFolder folder;
  const std::string path = folder.File("named.txt");
  std::ofstream(path, std::ios::binary) << "Header comment\r\n"       // 1
                                           "\r\n"                     // 2
                                           "#fast\r\n"                // 3
                                           "=1\n=2\n=test,hi\n"       // 4..6
                                           "  Supply voltage \t\r\n"  // 7
                                           "#echo,not a name\r\n"     // 8
                                           "\r\n\r\n"                 // 9, 10
                                           "=5\n=test,lo\n"           // 11, 12
                                           "# Load current\n"         // 13
                                           "=test,in\n"               // 14
                                           " \t \n"                   // 15: blank, no name
                                           "\"x\n=test,out\n";        // 16, 17
  FakeShell shell;
  ASSERT_TRUE(shell.engine.LoadScript(path));
  shell.state.scriptState = kScriptStopped;
  shell.Press(IDC_RUN);
  shell.RunUntilStopped();
  EXPECT_EQ(TestsOf(shell.engine.record()), (std::vector<Named>{{"Header comment", 6, false},
                                                                {"Supply voltage", 12, true},
                                                                {"Load current", 14, true},
                                                                {"Load current", 17, false}}));
  EXPECT_EQ(shell.engine.record().script, path);

  // No comment above: "line N", the list's line when it was not loaded from a file.
  shell.Load({"=1", "#beep", "=test,hi"});
  shell.Press(IDC_RUN);
  shell.RunUntilStopped();
  EXPECT_EQ(TestsOf(shell.engine.record()), (std::vector<Named>{{"line 3", 3, false}}));
}

TEST(ScriptRecord, ReplyReadsTheLineThatAnsweredTheScriptsLastCommand) {
  FakeShell shell;
  shell.peer->respond = Answers({{"volt?\n", "+4.98765E+00\r\n"},
                                 {"curr?\n", "I=0.5 A\r\nOVERRANGE\r\n"},  // the last line counts
                                 {"bvolt?\n", "\x81'>;\r\n"}});  // 1.234 as a binary value
  shell.peer->Queue("9.9\r\n");  // before the run: answers none of its commands
  shell.RunFor(5);
  shell.Load({"=reply", "\"volt?", "=reply", "=store,1", "\"curr?", "=reply", "\"quiet", "#pause,1",
              "=reply", "\"bvolt?", "=reply", "=[1]"});
  shell.Press(IDC_RUN);
  shell.RunUntilStopped();

  const Calculator& calc = shell.engine.calculator();
  EXPECT_EQ(calc.resultSlots[0], 4.98765);
  EXPECT_EQ(calc.calcStack.x, 4.98765);
  EXPECT_EQ(calc.calcStack.y, 1.234);  // the binary value, converted as the pane shows it
  EXPECT_EQ(calc.failCount, 3);
  const RunRecord& record = shell.engine.record();
  ASSERT_EQ(record.tests.size(), 3u);
  EXPECT_EQ(record.tests[0].reason, "no line received since the last command");
  EXPECT_EQ(record.tests[1].reason, "no number in the reply \"OVERRANGE\"");
  EXPECT_EQ(record.tests[2].reason, "no line received since the last command");
  for (const TestRecord& test : record.tests) {
    EXPECT_EQ(test.condition, "reply");
    EXPECT_TRUE(std::isnan(test.value));
    EXPECT_FALSE(test.passed);
  }
  EXPECT_EQ(record.status, RunStatus::Failed);
}

TEST(ScriptRecord, StatusSaysHowTheRunEnded) {
  struct Case {
    const char* what;
    std::vector<std::string> lines;
    RunStatus status;
    std::size_t tests;
  };
  const Case cases[] = {
      {"passed", {"=2", "=1", "=test,hi"}, RunStatus::Passed, 1},
      {"failed, counted at the end", {"=1", "=2", "=test,hi", "#echo"}, RunStatus::Failed, 1},
      {"stopped at a failure",
       {"=stop,onfail", "=1", "=2", "=test,hi", "=test,hi"},
       RunStatus::Failed,
       1},
      {"paused at a #wait", {"=2", "=1", "=test,hi", "#wait", "\"x"}, RunStatus::Stopped, 1},
      {"a NaN passes no test, though it counts no failure",
       {"=5", "=-1", "=sqrt", "=test,hi"},
       RunStatus::Failed,
       1},
      {"no test at all", {"\"x"}, RunStatus::Passed, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeShell shell;
    shell.engine.instrument = InstrumentIdentity{"VXM66", "10472", "", "", "", "", ""};
    shell.Load(c.lines);
    shell.Press(IDC_RUN);
    shell.RunUntilStopped();
    const RunRecord record = shell.engine.RecordForReport();
    EXPECT_EQ(record.status, c.status);
    EXPECT_EQ(record.tests.size(), c.tests);
    EXPECT_TRUE(record.finished);
    EXPECT_GE(record.finishTickMs, record.startTickMs);
    ASSERT_TRUE(record.instrument);
    EXPECT_EQ(record.instrument->serialNumber, "10472");
  }

  // Run on from the #wait: the same record, which ends as the run does.
  FakeShell shell;
  shell.Load({"=2", "=1", "=test,hi", "#wait", "=1", "=2", "=test,hi"});
  shell.Press(IDC_RUN);
  shell.RunUntilStopped();
  shell.Press(IDC_RUN);
  shell.RunFor(300);
  EXPECT_EQ(shell.engine.RecordForReport().status, RunStatus::Running);
  shell.RunUntilStopped();
  EXPECT_EQ(shell.engine.record().status, RunStatus::Failed);
  EXPECT_EQ(shell.engine.record().tests.size(), 2u);

  // The user's Stop leaves the run stopped; a step, stopped until the last line.
  shell.Load({"=2", "=1", "=test,hi", "=test,hi"});
  shell.Press(IDC_RUN);
  shell.RunFor(300);
  shell.Press(IDC_RUN);
  EXPECT_EQ(shell.engine.RecordForReport().status, RunStatus::Stopped);
  shell.Press(IDC_STEP);
  shell.Timer();
  EXPECT_EQ(shell.engine.record().status, RunStatus::Stopped);
  EXPECT_FALSE(shell.engine.record().tests.empty());
  for (int step = 0; step < 4 && shell.ScriptSelection() != -1; ++step) {
    shell.Press(IDC_STEP);
    shell.Timer();
  }
  EXPECT_EQ(shell.engine.record().status, RunStatus::Passed);

  // Run again from the top: a fresh record.
  shell.Press(IDC_RUN);
  shell.RunFor(20);
  EXPECT_EQ(shell.engine.record().tests.size(), 0u);
}

TEST(ScriptRecord, SendFailureAndLostConnection) {
  FakeShell shell;
  shell.Load({"=2", "=1", "=test,hi", "\"x"});
  shell.peer->failWrites = true;
  shell.Press(IDC_RUN);
  shell.RunUntilStopped();
  EXPECT_EQ(shell.engine.record().status, RunStatus::SendFailed);

  // A read that fails while the run waits for a reply: the window asks, the
  // run's next send fails, and the record says why.
  FakeShell lost;
  lost.ui.answers = {MessageAnswer::No};
  lost.Load({"\"volt?", "=2", "=1", "=test,hi", "\"x"});
  lost.Press(IDC_RUN);
  lost.RunFor(10);
  lost.peer->broken = true;
  lost.RunUntilStopped();
  EXPECT_EQ(lost.engine.record().status, RunStatus::ConnectionLost);
  EXPECT_EQ(lost.engine.record().tests.size(), 1u);
}

TEST(ShellTestReport, GreyedUntilATestIsRecordedThenSavedInTheChosenFormat) {
  TempFolder folder;
  FakeShell shell;
  shell.core.InitControls();
  shell.Load({"Supply <check> & \"more\"", "=2", "=1", "\"id?", "=test,hi"});
  shell.peer->respond = [](MemoryPeer& peer, const std::string&) { peer.Queue("ok\r\n"); };
  EXPECT_FALSE(shell.window.menuEnabled[ID_RESULT_SAVE_REPORT]);
  shell.Press(ID_RESULT_SAVE_REPORT);  // nothing to save: no dialog
  EXPECT_TRUE(shell.ui.saveDialogs.empty());
  shell.Press(IDC_RUN);
  shell.RunUntilStopped();
  EXPECT_TRUE(shell.window.menuEnabled[ID_RESULT_SAVE_REPORT]);

  struct Case {
    std::string file;
    int fileType;
    bool json;
  };
  const Case cases[] = {
      {folder.File("r.xml"), 2, false},  // the name's extension decides
      {folder.File("r.JSON"), 1, true},
      {folder.File("r"), 2, true},  // otherwise the file type chosen
      {folder.File("sub/folder/r"), 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    shell.ui.files = {c.file};
    shell.ui.saveFileType = c.fileType;
    shell.Press(ID_RESULT_SAVE_REPORT);
    const std::string text = ReadFileBytes(c.file);
    if (c.json) {
      const auto report = nlohmann::json::parse(text);
      EXPECT_EQ(report["tests"][0]["name"], "Supply <check> & \"more\"");
      EXPECT_EQ(report["transcript"], "> id?\nok\n");
    } else {
      EXPECT_NE(text.find("<testcase name=\"Supply &lt;check&gt; &amp; &quot;more&quot;\""),
                std::string::npos)
          << text;
    }
  }
  const FileDialogOptions& dialog = shell.ui.saveDialogs.back();
  EXPECT_EQ(dialog.title, "Save Test Report");
  EXPECT_EQ(dialog.filterPattern, "*.xml");
  ASSERT_EQ(dialog.moreFilters.size(), 1u);
  EXPECT_EQ(dialog.moreFilters[0].second, "*.json");
  EXPECT_TRUE(dialog.confirmOverwrite);

  // Cancelled: nothing, and no message. Not writable: the message says so.
  shell.ui.files = {std::nullopt};
  shell.Press(ID_RESULT_SAVE_REPORT);
  EXPECT_TRUE(shell.ui.messages.empty());
  std::ofstream(folder.File("plain")) << "a file, not a folder";
  shell.ui.files = {folder.File("plain/r.xml")};
  shell.Press(ID_RESULT_SAVE_REPORT);
  ASSERT_EQ(shell.ui.messages.size(), 1u);
  EXPECT_EQ(shell.ui.messages[0].text.rfind(
                kReportNotWrittenMessage + folder.File("plain/r.xml") + ": ", 0),
            0u)
      << shell.ui.messages[0].text;

  // A new run greys the item again until it records a test.
  shell.Load({"#pause,1", "=1", "=2", "=test,hi"});
  shell.Press(IDC_RUN);
  shell.RunFor(100);
  EXPECT_FALSE(shell.window.menuEnabled[ID_RESULT_SAVE_REPORT]);
}

}  // namespace
}  // namespace parlex2::testing
