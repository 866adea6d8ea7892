// The short soak: a couple of megabytes of the simulator's soak stream through
// the link and the poller, over TCP and over the pseudo-terminal. Nothing may
// be lost, doubled, reordered or damaged. (The long form, with its memory
// figures, is scripts/soak.sh.)
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/command_posix.h"
#include "support/simulator.h"
#include "support/temp_folder.h"

namespace parlex2 {
namespace {

// Over TCP or, with the parameter "pty", over the pseudo-terminal.
class Soak : public ::testing::TestWithParam<std::string> {};

TEST_P(Soak, StreamArrivesWhole) {
  const testing::TempFolder dir("parlex2-soak");
  const bool tcp = GetParam() == "tcp";
  testing::Simulator sim(PARLEX2_SIM_PATH);
  ASSERT_TRUE(sim.Start(tcp ? std::vector<std::string>{"--tcp", "127.77.0.71:10001"}
                            : std::vector<std::string>{"--pty", dir.File("com")}));
  const std::string connection = tcp ? "--lan 127.77.0.71" : "--usb " + dir.File("com");
  const auto run = testing::RunCommand(std::string("timeout 120 ") + PARLEX2_SOAK_PATH + " " +
                                       connection + " --bytes 2000000 2>&1");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("lost 0, doubled 0, damaged 0, end line agrees"), std::string::npos)
      << run.out;
  EXPECT_TRUE(sim.Stop());
  // A stopped simulator leaves no link to its pseudo-terminal behind.
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(dir.File("com"))));
}

INSTANTIATE_TEST_SUITE_P(, Soak, ::testing::Values("tcp", "pty"),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           return info.param;
                         });

}  // namespace
}  // namespace parlex2
