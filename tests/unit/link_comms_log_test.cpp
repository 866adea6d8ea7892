#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <thread>

#include "link/comms_log.h"
#include "support/comms_log_file.h"
#include "support/fake_clock.h"
#include "support/recording_ui.h"
#include "support/temp_folder.h"

namespace parlex2 {
namespace {

namespace fs = std::filesystem;

class CommsLogTest : public ::testing::Test {
 protected:
  void SetUp() override { clock_.SetNow({.hour = 9, .minute = 5, .second = 7, .millisecond = 5}); }
  testing::TempFolder folder_{"parlex2-log"};
  testing::FakeClock clock_;
  fs::path dir_ = folder_.Path() / "logs";  // made by the tests that need it
  testing::CommsLogFile cleanUp_;  // the process-wide log as every test finds it, at the end
};

TEST_F(CommsLogTest, FirstEntryCreatesDirectoriesHeaderAndEntry) {
  // Folder and file names beyond ASCII (as UTF-8, and as two Latin letters in
  // a Windows code page): the test for the file and its opening must agree.
  const std::string file = dir_.string() + "/a/Me\xc3\x9f-\xc3\xa9/comms-\xc3\xa9.log";
  CommsLog::SetLogPath(file);
  CommsLog::ToggleLogging();
  ASSERT_TRUE(CommsLog::IsLoggingEnabled());
  CommsLog::Write("***\tCONNECTING\t***\n");
  CommsLog::Write("100% done\n");
  EXPECT_EQ(testing::CommsLogText(file),
            "Veltmark Parlex2 CommsLog\n"
            "Software Version 1_4 (build 16)\n"
            "[09:05:07.005] ***\tLOG FILE OPENED\t***\n"
            "[09:05:07.005] ***\tCONNECTING\t***\n"
            "[09:05:07.005] 100% done\n");
}

// The upgrade worker logs while the UI thread logs, toggles and reads the
// settings: every entry stays one whole line, each thread's in its order.
TEST_F(CommsLogTest, EntriesFromTwoThreadsStayWholeLinesInTheirOrder) {
  const fs::path file = dir_ / "comms.log";
  CommsLog::SetLogPath(file.string());
  CommsLog::ToggleLogging();
  constexpr int kEntries = 500;
  auto writer = [](char who) {
    for (int i = 0; i < kEntries; ++i)
      CommsLog::Write(std::string(1, who).append(std::to_string(i)).append("\n"));
  };
  std::thread worker(writer, 'W');
  std::thread ui([&] {
    writer('U');
    for (int i = 0; i < 50; ++i) {
      EXPECT_TRUE(CommsLog::IsLoggingEnabled());
      EXPECT_EQ(CommsLog::GetLogPath(), file.string());
    }
  });
  worker.join();
  ui.join();

  std::istringstream lines(testing::CommsLogText(file.string()));
  std::string line;
  int next[2] = {0, 0};
  const std::regex entry(R"(\[09:05:07\.005\] ([UW])([0-9]+))");
  while (std::getline(lines, line)) {
    std::smatch m;
    if (!line.starts_with("[") || line.find("LOG FILE OPENED") != std::string::npos) continue;
    ASSERT_TRUE(std::regex_match(line, m, entry)) << line;
    int& expected = next[m[1] == "W"];
    EXPECT_EQ(std::stoi(m[2]), expected) << line;
    ++expected;
  }
  EXPECT_EQ(next[0], kEntries);
  EXPECT_EQ(next[1], kEntries);
}

TEST_F(CommsLogTest, PathIsKeptToItsLimit) {
  CommsLog::SetLogPath(std::string(300, 'p'));
  EXPECT_EQ(CommsLog::GetLogPath(), std::string(259, 'p'));
}

#ifndef _WIN32
std::string echoed;

// Without file logging entries go to the debugger output. The command
// line's -v: the echo takes every entry, whether the file takes it too or the
// debugger output does, and makes the link build its lines.
TEST_F(CommsLogTest, EchoTakesEveryEntryWhereverTheEntryGoes) {
  echoed.clear();
  const fs::path file = dir_ / "comms.log";
  CommsLog::SetLogPath(file.string());  // a path alone does not switch file logging on
  ::testing::internal::CaptureStderr();
  CommsLog::Write("no echo\n");
  EXPECT_FALSE(CommsLog::IsTraceKept());
  CommsLog::SetEcho([](std::string_view entry) { echoed += entry; });
  EXPECT_TRUE(CommsLog::IsTraceKept());
  CommsLog::Write("to the debugger\n");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "[09:05:07.005] no echo\n[09:05:07.005] to the debugger\n");
  EXPECT_FALSE(fs::exists(file));
  CommsLog::ToggleLogging();
  ::testing::internal::CaptureStderr();
  CommsLog::Write("to the file\n");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(echoed, "[09:05:07.005] to the debugger\n[09:05:07.005] to the file\n");
  EXPECT_NE(testing::CommsLogText(file.string()).find("[09:05:07.005] to the file\n"),
            std::string::npos);
  CommsLog::SetEcho(nullptr);
  EXPECT_TRUE(CommsLog::IsTraceKept());  // the file still keeps it
  CommsLog::ToggleLogging();
  EXPECT_FALSE(CommsLog::IsTraceKept());
}

TEST_F(CommsLogTest, UncreatableFileWarnsOnceAndSwitchesLoggingOff) {
  folder_.Write("logs/blocker", "a file, not a directory");  // in dir_, made with it
  testing::RecordingUi ui;
  CommsLog::SetUserInterface(&ui);
  CommsLog::SetLogPath((dir_ / "blocker" / "comms.log").string());
  CommsLog::ToggleLogging();
  ::testing::internal::CaptureStderr();
  CommsLog::Write("lost\n");
  CommsLog::Write("to the debugger\n");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "[09:05:07.005] to the debugger\n");
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Error opening comms log for writing\nComms Logging disabled");
  EXPECT_EQ(ui.messages[0].caption, "Error");
  EXPECT_EQ(ui.messages[0].buttons, MessageButtons::Ok);
  EXPECT_FALSE(ui.messages[0].owned);
  EXPECT_FALSE(CommsLog::IsLoggingEnabled());
}
#endif

}  // namespace
}  // namespace parlex2
