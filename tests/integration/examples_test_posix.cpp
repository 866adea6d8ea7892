// The examples a user starts from: every script in examples/ runs against the
// simulator through parlex2 run with the exit status its comments promise;
// the demo firmware set is what its recorded srec_cat command makes, and
// parlex2 upgrade writes it into the simulator by either route.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "sim/intel_hex.h"
#include "support/command_posix.h"
#include "support/report_schemas_posix.h"
#include "support/simulator.h"
#include "support/temp_folder.h"

namespace parlex2 {
namespace {

namespace fs = std::filesystem;
using testing::RunCommand;

const fs::path kExamples = PARLEX2_EXAMPLES_DIR;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

class ExamplesTest : public ::testing::Test {
 protected:
  testing::TempFolder folder_{"parlex2-examples"};
  const fs::path& dir_ = folder_.Path();
};

struct ScriptCase {
  const char* file;
  int status;
  std::vector<std::string> shown;     // lines the output holds, in this order
  std::vector<std::string> notShown;  // texts it must not hold
};

TEST_F(ExamplesTest, EveryScriptRunsAgainstTheSimulatorWithItsExitStatus) {
  testing::Simulator sim(PARLEX2_SIM_PATH);
  std::string error;
  ASSERT_TRUE(sim.Start({"--tcp", "127.0.47.1:10001"}, &error)) << error;

  // A comment line that began with #, = or a quote would run as a command:
  // no example may show the defaults of a bare #wait or #print, or a TIMEOUT.
  const std::vector<std::string> strays = {"TIMEOUT", "!!Invalid file location", "! Press Close",
                                           "ERROR"};
  const std::vector<ScriptCase> cases = {
      {"identify.txt",
       0,
       {"--- identity ---",
        "> *IDN?",
        "Veltmark,VXM66,10472,2.15",
        "> version?",
        "VXM66,STD,215,31,46,12",
        "> calstr?",
        "14_SEP_2026,OVL,10472",
        "> calver?",
        "02_OCT_2026",
        "> volt?",
        "1.234",
        "> curr?",
        "-0.0125",
        "> temp?",
        "23.5",
        "> meas?",
        "1.234,-0.0125,23.5",
        "> bvolt?",
        "1.23400E0",
        "done"},
       {}},
      {"limit_test.txt",
       3,
       {"band test passed", "hi test passed", "Ambient 19.5 C must not be below 20 C"},
       {"not reached", "> volt?"}},
      {"reply_wait_print.txt",
       0,
       {"> *IDN?", "Veltmark,VXM66,10472,2.15", "> volt?", "1.234",
        "Connect the probe to the reference output, then press Run", "> meas?",
        "1.234,-0.0125,23.5", "saved to results.txt"},
       {}},
  };
  for (const ScriptCase& c : cases) {
    SCOPED_TRACE(c.file);
    const auto run =
        RunCommand("cd '" + dir_.string() + "' && " + PARLEX2_PATH + " --lan 127.0.47.1 run '" +
                   (kExamples / c.file).string() + "' </dev/null 2>&1");
    EXPECT_EQ(run.status, c.status) << run.out;
    std::size_t at = 0;
    for (const std::string& line : c.shown) {
      const std::size_t found = run.out.find(line + "\n", at);
      EXPECT_NE(found, std::string::npos) << "missing or out of order: " << line << "\n" << run.out;
      if (found != std::string::npos) at = found + line.size();
    }
    for (const std::string& text : c.notShown) {
      EXPECT_EQ(run.out.find(text), std::string::npos) << text << "\n" << run.out;
    }
    for (const std::string& text : strays) {
      EXPECT_EQ(run.out.find(text), std::string::npos) << text << "\n" << run.out;
    }
  }

  // #time lines, and #print's file in the working folder: the pane's lines
  // with CR LF ends, up to the line before the #print.
  const std::string printed = ReadFile(dir_ / "results.txt");
  EXPECT_EQ(printed.rfind("time: ", 0), 0u) << printed;
  EXPECT_NE(printed.find("\r\n> meas?\r\n1.234,-0.0125,23.5\r\ntime: "), std::string::npos)
      << printed;
  EXPECT_EQ(printed.find("saved to results.txt"), std::string::npos);
  EXPECT_EQ(printed.find("\n\n"), std::string::npos);
  ASSERT_TRUE(sim.Stop());
}

// measure_supply.txt reads the simulator's readings, tests them, keeps two
// for a later test, and leaves reports that validate; the current is above
// its limit, so the run fails with status 3.
TEST_F(ExamplesTest, MeasureSupplyTestsReadingsAndLeavesValidReports) {
  testing::Simulator sim(PARLEX2_SIM_PATH);
  std::string error;
  ASSERT_TRUE(sim.Start({"--tcp", "127.0.47.4:10001", "--reading", "volt?=+4.98765E+00",
                         "--reading", "curr?=0.532", "--reading", "temp?=41.7"},
                        &error))
      << error;
  const auto run =
      RunCommand("cd '" + dir_.string() + "' && " + PARLEX2_PATH + " --lan 127.0.47.4 run '" +
                 (kExamples / "measure_supply.txt").string() +
                 "' --junit supply.xml --json supply.json </dev/null 2>stderr.txt");
  ASSERT_TRUE(sim.Stop());
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(run.out,
            "--- supply voltage ---\n> volt?\n+4.98765E+00\n--- load current ---\n> curr?\n0.532\n"
            "--- heatsink ---\n> temp?\n41.7\ndone\n");
  EXPECT_EQ(ReadFile(dir_ / "stderr.txt"),
            "parlex2: failed: line 32 (Load current at most 0.5 A): hi: 0.532 is above the upper "
            "limit 0.5\n");

  const auto junit = testing::CheckJUnitReport((dir_ / "supply.xml").string());
  EXPECT_EQ(junit.status, 0) << junit.out;
  const auto json = testing::CheckJsonReport((dir_ / "supply.json").string());
  EXPECT_EQ(json.status, 0) << json.out;
  EXPECT_NE(ReadFile(dir_ / "supply.xml")
                .find("<testcase name=\"Load current at most 0.5 A\" classname=\"measure_supply\""),
            std::string::npos);

  const auto report = nlohmann::json::parse(ReadFile(dir_ / "supply.json"));
  EXPECT_EQ(report["status"], "failed");
  EXPECT_EQ(report["failures"], 1);
  struct Expected {
    const char* name;
    int line;
    const char* condition;
    double value;
    bool passed;
  };
  const Expected expected[] = {
      {"Supply voltage 4.75 V to 5.25 V", 24, "out", 4.98765, true},
      {"Load current at most 0.5 A", 32, "hi", 0.532, false},
      {"Power from the stored readings, V x A, at most 3 W", 40, "hi", 4.98765 * 0.532, true},
      {"Heatsink temperature below 60 C", 47, "hi", 41.7, true},
  };
  ASSERT_EQ(report["tests"].size(), std::size(expected));
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    const auto& test = report["tests"][i];
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(test["name"], expected[i].name);
    EXPECT_EQ(test["line"], expected[i].line);
    EXPECT_EQ(test["condition"], expected[i].condition);
    EXPECT_DOUBLE_EQ(test["value"].get<double>(), expected[i].value);
    EXPECT_EQ(test["passed"], expected[i].passed);
  }
  EXPECT_EQ(report["tests"][0]["lower"], 4.75);
  EXPECT_EQ(report["tests"][1]["upper"], 0.5);
  EXPECT_EQ(report["tests"][1]["reason"], "0.532 is above the upper limit 0.5");
  EXPECT_EQ(report["transcript"], run.out);
}

TEST_F(ExamplesTest, DemoFirmwareSetIsWhatItsRecordedCommandMakes) {
  const fs::path firmware = kExamples / "firmware";
  const auto made = RunCommand("'" + (firmware / "make-demo-firmware.sh").string() + "' '" +
                               dir_.string() + "' 2>&1");
  ASSERT_EQ(made.status, 0) << made.out;

  // Main file (sector 0), DSP (2) and FPG (1) companions by name, and the
  // descriptor's two LOAD lines naming files that lie beside it.
  const std::map<std::string, std::pair<std::size_t, std::string>> files = {
      {"A1_DEMO.HEX", {1024, "VXM66 demo main firmware"}},
      {"DSP_DEMO.HEX", {512, "VXM66 demo DSP code"}},
      {"FPG_DEMO.HEX", {256, "VXM66 demo FPGA image"}},
  };
  for (const auto& [name, expected] : files) {
    SCOPED_TRACE(name);
    const std::string committed = ReadFile(firmware / name);
    EXPECT_EQ(ReadFile(dir_ / name), committed) << "the committed file is not the command's";
    std::map<std::uint32_t, std::uint8_t> image;
    int badLine = 0;
    ASSERT_TRUE(sim::HexFileImage(committed, image, &badLine)) << "line " << badLine;
    ASSERT_EQ(image.size(), expected.first);
    EXPECT_EQ(image.begin()->first, 0u);
    EXPECT_EQ(image.rbegin()->first, expected.first - 1);
    std::string start;
    for (auto it = image.begin(); start.size() < expected.second.size(); ++it) {
      start += static_cast<char>(it->second);
    }
    EXPECT_EQ(start, expected.second);
    EXPECT_EQ(committed.substr(committed.size() - 12), ":00000001FF\n");
  }

  std::istringstream descriptor(ReadFile(firmware / "demo.upg"));
  std::vector<std::string> loads;
  for (std::string line; std::getline(descriptor, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("LOAD", 0) == 0 || line.rfind("load", 0) == 0) loads.push_back(line);
  }
  EXPECT_EQ(loads, (std::vector<std::string>{"LOAD,0,A1_DEMO.HEX", "LOAD,2,DSP_DEMO.HEX"}));
}

// Each route of the firmware upgrade writes exactly the demo files into the
// simulator's flash: the descriptor (TARGET, WARNING, two LOAD lines) on the
// VXM66 over TCP, and the main hex file with its companions, over the
// pseudo-terminal, on an instrument that answers only from its boot code (the
// one the main-hex route suits) and in mixed case.
struct UpgradeCase {
  const char* file;
  std::string address;  // the simulator's, on port 10001; empty: a pseudo-terminal
  std::vector<std::string> simOptions;
  std::map<int, const char*> sectors;  // sector: file written into it
  const char* shown;                   // a line of the output
};

void ExpectUpgradeWrites(const UpgradeCase& c, const fs::path& workDir) {
  testing::Simulator sim(PARLEX2_SIM_PATH);
  std::string error;
  const std::string port = (workDir / "com7").string();
  std::vector<std::string> options = {"--tcp", c.address + ":10001"};
  if (c.address.empty()) options = {"--pty", port};
  options.insert(options.end(), c.simOptions.begin(), c.simOptions.end());
  ASSERT_TRUE(sim.Start(options, &error)) << error;
  const fs::path firmware = kExamples / "firmware";
  const std::string connection = c.address.empty() ? "--usb " + port : "--lan " + c.address;
  const auto run =
      RunCommand("cd '" + workDir.string() + "' && " + PARLEX2_PATH + " " + connection +
                 " upgrade --yes '" + (firmware / c.file).string() + "' </dev/null 2>&1");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("Finished"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find(c.shown), std::string::npos) << run.out;
  ASSERT_TRUE(sim.Stop());
  const auto flash = sim.ReadFlash();
  ASSERT_TRUE(flash);
  for (int sector = 0; sector < sim::Flash::kSectorCount; ++sector) {
    SCOPED_TRACE("sector " + std::to_string(sector));
    const auto it = c.sectors.find(sector);
    if (it == c.sectors.end()) {
      EXPECT_EQ(flash->At(sector).erases, 0);
      EXPECT_TRUE(flash->At(sector).bytes.empty());
      continue;
    }
    std::map<std::uint32_t, std::uint8_t> image;
    ASSERT_TRUE(sim::HexFileImage(ReadFile(firmware / it->second), image));
    EXPECT_EQ(flash->At(sector).erases, 1);
    EXPECT_EQ(flash->At(sector).bytes, image) << it->second;
  }
}

TEST_F(ExamplesTest, DemoDescriptorUpgradesTheSimulatedInstrument) {
  ExpectUpgradeWrites({"demo.upg",
                       "127.0.47.2",
                       {},
                       {{0, "A1_DEMO.HEX"}, {2, "DSP_DEMO.HEX"}},
                       "Firmware Warning: This demo firmware is for the simulator."},
                      dir_);
}

TEST_F(ExamplesTest, DemoMainHexSetUpgradesABootcodeInstrument) {
  ExpectUpgradeWrites({"A1_DEMO.HEX",
                       "",
                       {"--mode", "bootcode", "--ok-case", "mixed"},
                       {{0, "A1_DEMO.HEX"}, {1, "FPG_DEMO.HEX"}, {2, "DSP_DEMO.HEX"}},
                       "Instrument: VXMBOOT:    32 32 32 32"},
                      dir_);
}

}  // namespace
}  // namespace parlex2
