// parlex2 with many instruments: simulators on loopback addresses of their
// own, each instrument run by a child process, the summary read back as JSON.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <thread>

#include "sim/intel_hex.h"
#include "support/command_posix.h"
#include "support/simulator.h"
#include "support/temp_folder.h"

extern char** environ;

namespace parlex2 {
namespace {

using nlohmann::json;
using testing::ReadFileBytes;
using testing::Simulator;

// Whether `out` has a line of `address`'s child that begins with `text`
// (after the prefix and its padding).
bool HasLine(const std::string& out, const std::string& address, const std::string& text) {
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(address + ":", 0) != 0) continue;
    const std::size_t start = line.find_first_not_of(' ', address.size() + 1);
    if (start != std::string::npos && line.compare(start, text.size(), text) == 0) return true;
  }
  return false;
}

// parlex2 running in the background, its output in a file.
class Background {
 public:
  Background(const std::string& arguments, const std::string& output) {
    const std::string command = std::string("exec ") + PARLEX2_PATH + " " + arguments + " >'" +
                                output + "' 2>&1 </dev/null";
    const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
    if (posix_spawn(&pid_, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
      pid_ = -1;
    }
  }
  ~Background() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  pid_t pid() const { return pid_; }

  // The exit status (128 + a signal), or -1 when it is still running after `timeoutMs`.
  int Wait(int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }

  // Its child processes with their command lines, once there are `count` of
  // them (what there are after three seconds otherwise).
  std::vector<std::pair<pid_t, std::string>> Children(std::size_t count) const {
    std::vector<std::pair<pid_t, std::string>> children;
    for (int i = 0; i < 300 && children.size() < count; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      children.clear();
      std::istringstream lines(testing::RunCommand("pgrep -a -P " + std::to_string(pid_)).out);
      for (std::string line; std::getline(lines, line);) {
        const std::size_t space = line.find(' ');
        children.emplace_back(std::stoi(line.substr(0, space)), line.substr(space + 1));
      }
    }
    return children;
  }

 private:
  pid_t pid_ = -1;
};

class FleetTest : public ::testing::Test {
 protected:
  FleetTest() {
    std::random_device random;
    base_ =
        "127." + std::to_string(100 + random() % 150) + "." + std::to_string(random() % 250) + ".";
  }

  std::string Address(int n) const { return base_ + std::to_string(n); }
  static std::string Serial(int n) { return std::to_string(1000 + n); }

  // Simulators on addresses first..first+count-1, each with its own serial
  // number (Serial(n)) unless `options` gives an *IDN? reply.
  void StartSimulators(int count, const std::vector<std::string>& options = {}, int first = 1) {
    for (int n = first; n < first + count; ++n) {
      auto sim = std::make_unique<Simulator>(PARLEX2_SIM_PATH);
      std::vector<std::string> all = options;
      if (std::find(all.begin(), all.end(), "--idn") == all.end()) {
        all.insert(all.end(), {"--idn", "Veltmark,VXM66," + Serial(n) + ",2.15"});
      }
      all.insert(all.end(), {"--tcp", Address(n) + ":10001"});
      std::string error;
      ASSERT_TRUE(sim->Start(all, &error)) << error;
      sims_[n] = std::move(sim);
    }
  }

  std::string Lans(int first, int last) const {
    std::string lans;
    for (int n = first; n <= last; ++n) lans += " --lan " + Address(n);
    return lans;
  }

  // parlex2 --json SUMMARY ARGUMENTS, which must end with `status`; its output.
  std::string RunFleet(const std::string& arguments, int status) {
    const auto run = testing::RunCommand(std::string(PARLEX2_PATH) + " --json " + summary_ + " " +
                                         arguments + " 2>&1 </dev/null");
    EXPECT_EQ(run.status, status) << run.out;
    return run.out;
  }

  json Summary() const { return json::parse(ReadFileBytes(summary_), nullptr, false); }
  // The summary's entry for Address(n); null when there is none.
  json Entry(int n) const {
    const json summary = Summary();
    if (summary.is_object()) {
      for (const auto& entry : summary["instruments"]) {
        if (entry["address"] == Address(n)) return entry;
      }
    }
    ADD_FAILURE() << "no entry for " << Address(n) << " in " << ReadFileBytes(summary_);
    return json();
  }

  testing::TempFolder folder_{"parlex2-fleet"};
  std::string summary_ = folder_.File("summary.json");
  std::string base_;
  std::map<int, std::unique_ptr<Simulator>> sims_;
};

// Named by an address file with comments and a duplicate, and on the command
// line, one of them twice in two spellings: each runs once, with a comms log
// of its own. -v: each child's trace reaches the terminal under its address,
// and a trace line is never taken for the message the summary gives.
TEST_F(FleetTest, EightInstrumentsAtOnceBesideADeadAddress) {
  StartSimulators(8);
  const std::string rack = folder_.File("rack.txt");
  std::ofstream(rack) << "# bench A\r\n"
                      << Address(1) << "   # left\r\n\r\n  " << Address(2) << "\n"
                      << Address(1) << "\n";
  const std::string logs = folder_.File("logs");
  const std::string out = RunFleet(
      "-v --log " + logs + " --lan-file " + rack + Lans(3, 9) + " --lan " + base_ + "03 identify",
      1);
  EXPECT_NE(out.find(Address(1) + " is named twice (" + rack + " line 2, " + rack +
                     " line 5); it runs once"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find(Address(3) + " is named twice; it runs once"), std::string::npos) << out;
  const json summary = Summary();
  EXPECT_EQ(summary["command"], "identify");
  EXPECT_EQ(summary["exitStatus"], 1);
  EXPECT_EQ(summary["instruments"].size(), 9u);
  for (int n = 1; n <= 8; ++n) {
    SCOPED_TRACE(n);
    json entry = Entry(n);
    EXPECT_EQ(entry["result"], "ok");
    EXPECT_EQ(entry["exitStatus"], 0);
    EXPECT_EQ(entry["message"], "Test Connection: The connection was successful Veltmark,VXM66," +
                                    Serial(n) + ",2.15");
    // Each instrument's identity, lines and log belong to its own address.
    EXPECT_EQ(entry["identity"]["serialNumber"], Serial(n));
    EXPECT_TRUE(HasLine(out, Address(n), "Serial No:  " + Serial(n))) << out;
    EXPECT_TRUE(HasLine(out, Address(n), "[")) << out;
    const std::string received = sims_[n]->Received();
    EXPECT_EQ(received.find("*IDN?"), received.rfind("*IDN?")) << "identified twice";
    const std::string log = ReadFileBytes(logs + "/" + Address(n) + ".log");
    for (int other = 1; other <= 8; ++other) {
      EXPECT_EQ(log.find("Veltmark,VXM66," + Serial(other)) != std::string::npos, other == n)
          << log;
    }
  }
  json dead = Entry(9);
  EXPECT_EQ(dead["result"], "failed (exit 1)");
  EXPECT_EQ(dead["identity"]["connected"], false);
  EXPECT_EQ(dead["message"], "Test Connection: Failed to connect to IP address " + Address(9));
  // The table ends the output.
  EXPECT_NE(out.find("9 instruments: 8 ok, 1 not ok"), std::string::npos) << out;
}

// Four instruments take the demo firmware set: its WARNING line shown, the
// descriptor's two sectors each erased once and holding its file, no other
// touched. One of another model is refused and touched nowhere; one drops
// its connection while records go out.
TEST_F(FleetTest, UpgradeAcrossARackKeepsEachInstrumentsFaultToItself) {
  StartSimulators(4);
  StartSimulators(1, {"--idn", "Veltmark,VXM26,555,2.15"}, 5);
  StartSimulators(1, {"--drop-after", "20"}, 6);
  const std::string firmware = PARLEX2_EXAMPLES_DIR "/firmware/";
  // The largest status: refused (3) over failed (1).
  const std::string out = RunFleet(Lans(1, 6) + " upgrade --yes " + firmware + "demo.upg", 3);
  std::map<std::uint32_t, std::uint8_t> image, dsp;
  ASSERT_TRUE(sim::HexFileImage(ReadFileBytes(firmware + "A1_DEMO.HEX"), image));
  ASSERT_TRUE(sim::HexFileImage(ReadFileBytes(firmware + "DSP_DEMO.HEX"), dsp));
  for (int n = 1; n <= 6; ++n) {
    SCOPED_TRACE(n);
    json entry = Entry(n);
    ASSERT_TRUE(sims_[n]->Stop());
    const auto flash = sims_[n]->ReadFlash();
    ASSERT_TRUE(flash);
    if (n <= 4) {
      EXPECT_EQ(entry["result"], "ok");
      for (int sector = 0; sector < sim::Flash::kSectorCount; ++sector) {
        EXPECT_EQ(flash->At(sector).erases, sector == 0 || sector == 2) << sector;
      }
      EXPECT_EQ(flash->At(0).bytes, image);
      EXPECT_EQ(flash->At(2).bytes, dsp);
      EXPECT_TRUE(HasLine(out, Address(n), "100%")) << out;
      EXPECT_TRUE(
          HasLine(out, Address(n), "Firmware Warning: This demo firmware is for the simulator."))
          << out;
    } else if (n == 5) {
      EXPECT_EQ(entry["result"], "refused (exit 3)");
      EXPECT_NE(entry["message"].get<std::string>().find("You are connected to a VXM26"),
                std::string::npos)
          << entry;
      EXPECT_EQ(sims_[n]->Received().find('\x19'), std::string::npos);
      EXPECT_EQ(flash->At(0).erases, 0);
    } else {
      EXPECT_EQ(entry["result"], "failed (exit 1)");
      EXPECT_NE(flash->At(0).bytes, image);
    }
  }
}

// run's report options name a folder with many instruments: one report
// each, named after the address, for the instrument it belongs to. A child
// killed meanwhile is reported with its signal, which gives the status.
TEST_F(FleetTest, RunWritesEachInstrumentsReportsIntoAFolderAndAKilledChildIsReported) {
  StartSimulators(3);
  StartSimulators(1, {"--mode", "silent"}, 4);
  const std::string script = folder_.File("check.txt");
  std::ofstream(script) << "\"*IDN?\n# one is above two\n=1\n=2\n=test,hi\n";
  const std::string reports = folder_.File("reports"), output = folder_.File("out.txt");
  Background parent("--json " + summary_ + Lans(1, 4) + " run --junit " + reports + " --json " +
                        reports + " " + script,
                    output);
  ASSERT_GT(parent.pid(), 0);
  pid_t victim = -1;
  for (const auto& [pid, command] : parent.Children(4)) {
    if (command.find("--lan " + Address(4) + " ") != std::string::npos) victim = pid;
  }
  ASSERT_GT(victim, 0) << "no child for " << Address(4);
  kill(victim, SIGKILL);
  EXPECT_EQ(parent.Wait(20000), 128 + SIGKILL);
  const std::string out = ReadFileBytes(output);
  for (int n = 1; n <= 3; ++n) {  // the test fails on each
    SCOPED_TRACE(n);
    EXPECT_TRUE(HasLine(out, Address(n), "Veltmark,VXM66," + Serial(n))) << out;
    const std::string stem = reports + "/" + Address(n);
    json entry = Entry(n);
    EXPECT_EQ(entry["result"], "test failed (exit 3)");
    EXPECT_EQ(entry["files"]["junit"], stem + ".xml");
    EXPECT_EQ(entry["files"]["json"], stem + ".json");
    const std::string report = ReadFileBytes(stem + ".json");
    EXPECT_NE(report.find("Veltmark,VXM66," + Serial(n)), std::string::npos) << report;
    EXPECT_NE(ReadFileBytes(stem + ".xml").find("one is above two"), std::string::npos);
  }
  json killed = Entry(4);
  EXPECT_EQ(killed["result"], "killed by SIGKILL");
  EXPECT_EQ(killed["signal"], "SIGKILL");
}

TEST_F(FleetTest, InterruptStopsEveryChildAndLeavesNoneBehind) {
  StartSimulators(3, {"--mode", "silent"});
  const std::string output = folder_.File("out.txt");
  Background parent("--json " + summary_ + Lans(1, 3) + " identify", output);
  ASSERT_GT(parent.pid(), 0);
  const auto children = parent.Children(3);
  ASSERT_EQ(children.size(), 3u);
  // Only the parent is told, as a job system stopping it would.
  kill(parent.pid(), SIGINT);
  EXPECT_EQ(parent.Wait(10000), 130) << ReadFileBytes(output);
  for (const auto& [pid, command] : children) {
    EXPECT_NE(kill(pid, 0), 0) << "left running: " << command;
  }
  const json summary = Summary();
  EXPECT_EQ(summary["interrupted"], true) << ReadFileBytes(summary_);
  for (const auto& entry : summary["instruments"]) {
    EXPECT_EQ(entry["result"], "stopped (interrupted)") << entry;
  }
  EXPECT_NE(ReadFileBytes(output).find("(interrupted)"), std::string::npos);
}

}  // namespace
}  // namespace parlex2
