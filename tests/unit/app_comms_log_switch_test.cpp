#include <gtest/gtest.h>

#include <filesystem>

#include "app/comms_log_switch.h"
#include "link/comms_log.h"
#include "support/comms_log_file.h"
#include "support/recording_ui.h"
#include "support/temp_folder.h"

namespace parlex2 {
namespace {

TEST(CommsLogSwitchTest, MenuTogglesWithTheLastFileOfferedAndTheCommandLineOnlyStarts) {
  testing::TempFolder folder("parlex2-logswitch");
  testing::RecordingUi ui;
  testing::CommsLogFile cleanUp;  // the process-wide log as every test finds it, at the end
  // Cancelled: stays off, nothing chosen.
  ui.files.push_back(std::nullopt);
  EXPECT_FALSE(ToggleCommsLogFile(ui));
  EXPECT_FALSE(CommsLog::IsLoggingEnabled());
  ASSERT_EQ(ui.saveDialogs.size(), 1u);
  EXPECT_EQ(ui.saveDialogs[0].defaultExtension, "log");
  EXPECT_EQ(ui.saveDialogs[0].filterPattern, "*.log");
  // The log is appended to, so choosing an existing file is no overwrite.
  EXPECT_FALSE(ui.saveDialogs[0].confirmOverwrite);

  const std::string file = (folder.Path() / "logs" / "bench.log").string();
  ui.files.push_back(file);
  EXPECT_TRUE(ToggleCommsLogFile(ui));
  EXPECT_TRUE(CommsLog::IsLoggingEnabled());
  EXPECT_EQ(CommsLog::GetLogPath(), file);

  // On: the next choice turns it off without asking.
  EXPECT_FALSE(ToggleCommsLogFile(ui));
  EXPECT_FALSE(CommsLog::IsLoggingEnabled());
  EXPECT_EQ(ui.saveDialogs.size(), 2u);

  // Off again: the dialog offers the last file.
  ui.files.push_back(std::nullopt);
  EXPECT_FALSE(ToggleCommsLogFile(ui));
  ASSERT_EQ(ui.saveDialogs.size(), 3u);
  EXPECT_EQ(ui.saveDialogs[2].initialName, file);

  // The command line refuses a path the log would cut.
  EXPECT_FALSE(StartCommsLogFile(""));
  EXPECT_FALSE(StartCommsLogFile(std::string(kCommsLogPathMax + 1, 'a')));
  EXPECT_FALSE(CommsLog::IsLoggingEnabled());
  EXPECT_EQ(CommsLog::GetLogPath(), file);  // as the menu left it

  const std::string longest(kCommsLogPathMax, 'b');
  EXPECT_TRUE(StartCommsLogFile(longest));
  EXPECT_EQ(CommsLog::GetLogPath(), longest);
  // Starting again keeps it on (it is not a toggle) and moves to the new file.
  EXPECT_TRUE(StartCommsLogFile("c.log"));
  EXPECT_TRUE(CommsLog::IsLoggingEnabled());
  EXPECT_EQ(CommsLog::GetLogPath(), "c.log");
}

}  // namespace
}  // namespace parlex2
