#include <gtest/gtest.h>

#include <filesystem>

#include "app/comms_log_switch.h"
#include "link/comms_log.h"
#include "support/comms_log_file.h"
#include "support/recording_ui.h"
#include "support/temp_folder.h"

namespace parlex2 {
namespace {

class CommsLogSwitchTest : public ::testing::Test {
 protected:
  testing::TempFolder folder_{"parlex2-logswitch"};
  testing::RecordingUi ui_;
  testing::CommsLogFile cleanUp_;  // the process-wide log as every test finds it, at the end
};

TEST_F(CommsLogSwitchTest, MenuAsksForTheFileTurnsOnThenOffAndOffersTheLastFile) {
  // Cancelled: stays off, nothing chosen.
  ui_.files.push_back(std::nullopt);
  EXPECT_FALSE(ToggleCommsLogFile(ui_));
  EXPECT_FALSE(CommsLog::IsLoggingEnabled());
  ASSERT_EQ(ui_.saveDialogs.size(), 1u);
  EXPECT_EQ(ui_.saveDialogs[0].defaultExtension, "log");
  EXPECT_EQ(ui_.saveDialogs[0].filterPattern, "*.log");
  // The log is appended to, so choosing an existing file is no overwrite.
  EXPECT_FALSE(ui_.saveDialogs[0].confirmOverwrite);

  const std::string file = (folder_.Path() / "logs" / "bench.log").string();
  ui_.files.push_back(file);
  EXPECT_TRUE(ToggleCommsLogFile(ui_));
  EXPECT_TRUE(CommsLog::IsLoggingEnabled());
  EXPECT_EQ(CommsLog::GetLogPath(), file);

  // On: the next choice turns it off without asking.
  EXPECT_FALSE(ToggleCommsLogFile(ui_));
  EXPECT_FALSE(CommsLog::IsLoggingEnabled());
  EXPECT_EQ(ui_.saveDialogs.size(), 2u);

  // Off again: the dialog offers the last file.
  ui_.files.push_back(std::nullopt);
  EXPECT_FALSE(ToggleCommsLogFile(ui_));
  ASSERT_EQ(ui_.saveDialogs.size(), 3u);
  EXPECT_EQ(ui_.saveDialogs[2].initialName, file);
}

TEST_F(CommsLogSwitchTest, CommandLineStartRefusesAPathTheLogWouldCut) {
  EXPECT_FALSE(StartCommsLogFile(""));
  EXPECT_FALSE(StartCommsLogFile(std::string(kCommsLogPathMax + 1, 'a')));
  EXPECT_FALSE(CommsLog::IsLoggingEnabled());
  EXPECT_EQ(CommsLog::GetLogPath(), "");

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
