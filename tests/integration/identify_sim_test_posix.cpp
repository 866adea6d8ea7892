// `parlex2 identify` runs as a program against parlex2-sim over TCP: the
// exact bytes the instrument receives, the panel and the result shown.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/command_posix.h"
#include "support/simulator.h"
#include "support/temp_folder.h"

namespace parlex2 {
namespace {

// Over TCP every text goes out with its terminating zero byte.
std::string Lan(std::string_view text) { return std::string(text) + '\0'; }

// Both streams of a command line run, standard error through a file.
struct CliOutput {
  int status;
  std::string out, err;
};
CliOutput RunCliBoth(const std::string& arguments) {
  testing::TempFolder folder("parlex2-cli-err");
  const std::string errFile = folder.File("err.txt");
  const auto run = testing::RunCommand(std::string(PARLEX2_PATH) + " " + arguments + " 2>" +
                                       errFile + " </dev/null");
  return {run.status, run.out, testing::ReadFileBytes(errFile)};
}

TEST(IdentifySim, CommandLineIdentifyPrintsThePanelAndTheResultOnly) {
  testing::Simulator sim(PARLEX2_SIM_PATH);
  // Calibration dates long past, so the panel reads the same on any day.
  ASSERT_TRUE(sim.Start(
      {"--tcp", "127.0.0.55:10001", "--calstr", "12_MAR_2023,OVL", "--calver", "01_JAN_2023"}));
  const auto plain = RunCliBoth("--lan 127.0.0.55 identify");
  EXPECT_EQ(plain.status, 0);
  EXPECT_EQ(plain.out,
            "Connection Info.\n\n  Interface:  LAN\n  Address:  127.0.0.55\n\n\n"
            "Instrument Info. \n\n  Model:  VXM66\n  Serial No:  10472\n  Type:  STD\n"
            "  Main release:  215\n  FPGA release:  31\n  DSP release:  46\n  BOOT release:  12\n\n"
            "  Last local calibration:  \n    01 JAN 2023\n\n"
            "  Last OVL calibration:  \n    12 MAR 2023\n\n"
            "WARNING:  >18 months since OVL Calibration  \n");
  EXPECT_EQ(plain.err,
            "Test Connection: The connection was successful Veltmark,VXM66,10472,2.15\n");

  // -v adds the time-stamped trace on standard error, before the result.
  const auto verbose = RunCliBoth("-v --lan 127.0.0.55 identify");
  EXPECT_EQ(verbose.out, plain.out);
  EXPECT_NE(verbose.err.find("]\x20***\tCONNECTING\t***\n"), std::string::npos) << verbose.err;
  const std::size_t result = verbose.err.find("Test Connection:");
  ASSERT_NE(result, std::string::npos) << verbose.err;
  EXPECT_EQ(verbose.err.substr(result), plain.err);
  ASSERT_TRUE(sim.Stop());
  // Each run woke the instrument and asked the four identity queries, every
  // text followed by its zero byte.
  const std::string asked = Lan("\x14") + Lan("\x14") + Lan("^[") + Lan("*IDN?\n") +
                            Lan("calstr?\n") + Lan("calver?\n") + Lan("version?\n");
  EXPECT_EQ(sim.Received(), asked + asked);

  const auto nobody = RunCliBoth("--lan 127.0.0.56 identify");  // nothing listens there
  EXPECT_EQ(nobody.status, 1);
  EXPECT_EQ(nobody.out, "No connection\n");
  EXPECT_EQ(nobody.err, "Test Connection: Failed to connect to IP address 127.0.0.56\n");
}

// A settings folder that cannot be made (a plain file stands in the way):
// said, status 1.
TEST(IdentifySim, SaveDefaultSaysWhyItCannotWrite) {
  testing::TempFolder folder("parlex2-connect");
  folder.Write("file", "x");
  setenv("XDG_CONFIG_HOME", (folder.Path() / "file" / "config").c_str(), 1);
  const auto unwritable = RunCliBoth("--lan 127.0.0.57 save-default");
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(unwritable.status, 1);
  EXPECT_NE(unwritable.err.find("parlex2: cannot write the settings file "), std::string::npos)
      << unwritable.err;
}

}  // namespace
}  // namespace parlex2
