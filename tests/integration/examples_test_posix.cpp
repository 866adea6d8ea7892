// The examples a user starts from: every script in examples/ runs against the
// simulator through parlex2 run with the output and exit status its comments
// promise; the demo firmware set is what its recorded srec_cat command makes,
// and parlex2 upgrade writes it into the simulator by either route.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "sim/intel_hex.h"
#include "support/command_posix.h"
#include "support/simulator.h"
#include "support/temp_folder.h"

namespace parlex2 {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileBytes;

const fs::path kExamples = PARLEX2_EXAMPLES_DIR;
const fs::path kFirmware = kExamples / "firmware";

class ExamplesTest : public ::testing::Test {
 protected:
  // Starts `sim` with `simOptions`, runs parlex2 ARGUMENTS in the test's
  // folder with no input and standard error in err.txt, and stops `sim`.
  testing::CommandRun Run(testing::Simulator& sim, const std::vector<std::string>& simOptions,
                          const std::string& arguments) {
    std::string error;
    EXPECT_TRUE(sim.Start(simOptions, &error)) << error;
    const auto run = testing::RunCommand("cd '" + dir_.string() + "' && " + PARLEX2_PATH + " " +
                                         arguments + " </dev/null 2>err.txt");
    EXPECT_TRUE(sim.Stop());
    return run;
  }
  testing::TempFolder folder_{"parlex2-examples"};
  const fs::path& dir_ = folder_.Path();
};

// The whole output is compared: a comment line that began with #, = or a
// quote would run as a command and show a TIMEOUT or the defaults of a bare
// #wait or #print. #time's times read "time: T".
TEST_F(ExamplesTest, EveryScriptRunsAgainstTheSimulatorWithItsOutputAndExitStatus) {
  struct Case {
    const char* file;
    std::vector<std::string> readings;  // --reading options of the simulator
    int status;
    const char* out;
    const char* err;
  };
  const Case cases[] = {
      {"identify.txt",
       {},
       0,
       "--- identity ---\n> *IDN?\nVeltmark,VXM66,10472,2.15\n> version?\nVXM66,STD,215,31,46,12\n"
       "> calstr?\n14_SEP_2026,OVL,10472\n> calver?\n02_OCT_2026\n--- measurements as text ---\n"
       "> volt?\n1.234\n> curr?\n-0.0125\n> temp?\n23.5\n> meas?\n1.234,-0.0125,23.5\n"
       "--- the voltage as a 4-byte binary value, shown converted ---\n> bvolt?\n1.23400E0\ndone\n",
       ""},
      {"limit_test.txt",
       {},
       3,
       "Supply 4.95 V must lie in the band 4.75 V to 5.25 V\nband test passed\n"
       "Power 0.48 A x 9.6 V must not exceed 5 W\nhi test passed\n"
       "Ambient 19.5 C must not be below 20 C\n",
       "parlex2: failed: line 39 (failed.): lo: 19.5 is below the lower limit 20\n"},
      {"reply_wait_print.txt",
       {},
       0,
       "time: T\n> *IDN?\nVeltmark,VXM66,10472,2.15\n> volt?\n1.234\n"
       "Connect the probe to the reference output, then press Run\n"
       "> meas?\n1.234,-0.0125,23.5\ntime: T\nsaved to results.txt\n",
       ""},
      // It keeps two readings for a later test; the current is above its limit.
      {"measure_supply.txt",
       {"volt?=+4.98765E+00", "curr?=0.532", "temp?=41.7"},
       3,
       "--- supply voltage ---\n> volt?\n+4.98765E+00\n--- load current ---\n> curr?\n0.532\n"
       "--- heatsink ---\n> temp?\n41.7\ndone\n",
       "parlex2: failed: line 32 (Load current at most 0.5 A): hi: 0.532 is above the upper "
       "limit 0.5\n"},
  };
  const std::regex time("time: [0-9:]{12}");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    testing::Simulator sim(PARLEX2_SIM_PATH);
    std::vector<std::string> options = {"--tcp", "127.0.47.1:10001"};
    for (const std::string& reading : c.readings)
      options.insert(options.end(), {"--reading", reading});
    const auto run =
        Run(sim, options, "--lan 127.0.47.1 run '" + (kExamples / c.file).string() + "'");
    EXPECT_EQ(run.status, c.status) << run.out;
    EXPECT_EQ(std::regex_replace(run.out, time, "time: T"), c.out);
    EXPECT_EQ(ReadFileBytes(dir_ / "err.txt"), c.err);
  }

  // #print's file in the working folder: the pane's lines with CR LF ends,
  // up to the line before the #print.
  EXPECT_EQ(std::regex_replace(ReadFileBytes(dir_ / "results.txt"), time, "time: T"),
            "time: T\r\n> *IDN?\r\nVeltmark,VXM66,10472,2.15\r\n> volt?\r\n1.234\r\n"
            "Connect the probe to the reference output, then press Run\r\n"
            "> meas?\r\n1.234,-0.0125,23.5\r\ntime: T\r\n");
}

// The committed demo files are what make-demo-firmware.sh makes, and the
// upgrade's main-hex route writes exactly them into the simulator's flash,
// the main hex file with its companions, over the pseudo-terminal, on an
// instrument that answers only from its boot code (the one the route suits)
// and in mixed case. (The descriptor demo.upg goes into simulators over TCP
// in FleetTest.UpgradeAcrossARackKeepsEachInstrumentsFaultToItself.)
TEST_F(ExamplesTest, DemoSetIsWhatItsCommandMakesAndUpgradesTheSimulatorByEitherRoute) {
  const auto made = testing::RunCommand("'" + (kFirmware / "make-demo-firmware.sh").string() +
                                        "' '" + dir_.string() + "' 2>&1");
  ASSERT_EQ(made.status, 0) << made.out;
  for (const char* name : {"A1_DEMO.HEX", "DSP_DEMO.HEX", "FPG_DEMO.HEX"}) {
    EXPECT_EQ(ReadFileBytes(dir_ / name), ReadFileBytes(kFirmware / name))
        << name << ": not the command's file";
  }

  const std::string port = (dir_ / "com7").string();
  testing::Simulator sim(PARLEX2_SIM_PATH);
  const auto run =
      Run(sim, {"--pty", port, "--mode", "bootcode", "--ok-case", "mixed"},
          "--usb " + port + " upgrade --yes '" + (kFirmware / "A1_DEMO.HEX").string() + "'");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("Finished"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Instrument: VXMBOOT:    32 32 32 32"), std::string::npos) << run.out;
  const auto flash = sim.ReadFlash();
  ASSERT_TRUE(flash);
  const char* sectors[] = {"A1_DEMO.HEX", "FPG_DEMO.HEX", "DSP_DEMO.HEX"};  // sectors 0 to 2
  for (int sector = 0; sector < sim::Flash::kSectorCount; ++sector) {
    SCOPED_TRACE("sector " + std::to_string(sector));
    std::map<std::uint32_t, std::uint8_t> image;
    if (sector < 3) {
      ASSERT_TRUE(sim::HexFileImage(ReadFileBytes(kFirmware / sectors[sector]), image));
    }
    EXPECT_EQ(flash->At(sector).erases, sector < 3 ? 1 : 0);
    EXPECT_EQ(flash->At(sector).bytes, image);
  }
}

}  // namespace
}  // namespace parlex2
