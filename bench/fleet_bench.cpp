// Measures parlex2's many-instrument mode against one instrument's time in
// the same run: N simulators on distinct loopback addresses (default 8, 32
// and 128), `identify` and a 200-record `upgrade` across all of them, each
// wall time against the same command on one instrument, with the children's
// peak memory (from the --json summary) and the parent's.
// Goals: identify across 32 within 2x one instrument's time; every
// instrument of the largest N upgraded with nothing lost (its flash holds
// the file's bytes).
//
//   parlex2-bench-fleet [N...]
// Exit status: 0 goals met, 1 something failed or was lost, 2 a goal missed.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "random_firmware.h"
#include "sim/flash.h"
#include "sim/intel_hex.h"

namespace {

using Steady = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int kUpgradeRecords = 200;
constexpr double kIdentifyGoal = 2.0;  // at 32 instruments
constexpr std::size_t kIdentifyGoalAt = 32;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// One simulator, ended with its parent (this benchmark) whatever happens.
class Sim {
 public:
  Sim(const std::string& address, const fs::path& dir) : address_(address), dir_(dir) {
    fs::create_directories(dir_);
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      dup2(out[1], 1);
      close(out[0]);
      close(out[1]);
      const std::string tcp = address + ":10001";
      const std::string flash = (dir_ / "flash.txt").string();
      execl(PARLEX2_SIM_PATH, PARLEX2_SIM_PATH, "--tcp", tcp.c_str(), "--flash", flash.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    readFd_ = out[0];
  }
  ~Sim() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (readFd_ >= 0) close(readFd_);
  }
  // Waits for its "ready" line.
  bool Ready() {
    std::string text;
    char c;
    while (text.find("ready\n") == std::string::npos && read(readFd_, &c, 1) == 1) text += c;
    return text.find("ready\n") != std::string::npos;
  }
  std::optional<parlex2::sim::Flash> Flash() const {
    return parlex2::sim::Flash::ParseDump(ReadText(dir_ / "flash.txt"));
  }
  const std::string& address() const { return address_; }

 private:
  std::string address_;
  fs::path dir_;
  pid_t pid_ = -1;
  int readFd_ = -1;
};

struct Timed {
  int status = -1;
  double seconds = 0;
  long parentKiB = 0;
};

// Runs parlex2 with `arguments`, its output into `log`.
Timed RunParlex2(const std::vector<std::string>& arguments, const fs::path& log) {
  const auto start = Steady::now();
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 1);
    dup2(fd, 2);
    const int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    std::vector<char*> argv{const_cast<char*>(PARLEX2_PATH)};
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(PARLEX2_PATH, argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  Timed timed;
  timed.seconds = std::chrono::duration<double>(Steady::now() - start).count();
  timed.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  timed.parentKiB = usage.ru_maxrss;
  return timed;
}

struct Row {
  std::size_t count;
  Timed identify, upgrade;
  std::uint64_t childMeanKiB = 0, childMaxKiB = 0;
  std::size_t identifiedOk = 0, upgradedOk = 0, flashesRight = 0;
};

// Reads the summary: instruments whose result is "ok", and their children's
// mean and largest peak memory.
std::size_t ReadSummary(const fs::path& path, std::uint64_t* meanKiB, std::uint64_t* maxKiB) {
  const auto summary = nlohmann::json::parse(ReadText(path), nullptr, false);
  if (!summary.is_object()) return 0;
  std::size_t ok = 0;
  std::uint64_t total = 0, largest = 0, counted = 0;
  for (const auto& entry : summary["instruments"]) {
    if (entry["ok"] == true) ++ok;
    if (entry["peakMemoryKiB"].is_number()) {
      const auto kib = entry["peakMemoryKiB"].get<std::uint64_t>();
      total += kib;
      largest = std::max(largest, kib);
      ++counted;
    }
  }
  if (meanKiB && counted) *meanKiB = total / counted;
  if (maxKiB) *maxKiB = largest;
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::size_t> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(std::strtoul(argv[i], nullptr, 10));
  if (sizes.empty()) sizes = {8, 32, 128};
  const std::size_t largest = *std::max_element(sizes.begin(), sizes.end());
  if (largest == 0 || largest > 250) {
    std::fprintf(stderr, "sizes from 1 to 250\n");
    return 1;
  }
  std::random_device seed;
  const std::string base =
      "127." + std::to_string(100 + seed() % 150) + "." + std::to_string(seed() % 250) + ".";
  const fs::path dir = fs::temp_directory_path() / ("parlex2-fleet-bench-" + std::to_string(getpid()));
  fs::create_directories(dir);
  struct Cleanup {
    fs::path dir;
    ~Cleanup() {
      std::error_code ignored;
      fs::remove_all(dir, ignored);
    }
  } cleanup{dir};

  const std::string hex = parlex2::bench::RandomHexFile(19, kUpgradeRecords, 16);
  std::ofstream(dir / "main.hex", std::ios::binary) << hex;
  std::ofstream(dir / "set.upg") << "TARGET,VXM66\nLOAD,0,main.hex\n";
  std::map<std::uint32_t, std::uint8_t> image;
  parlex2::sim::HexFileImage(hex, image);

  std::printf("starting %zu simulators on %s1..%zu\n", largest, base.c_str(), largest);
  std::vector<std::unique_ptr<Sim>> sims;
  for (std::size_t n = 1; n <= largest; ++n) {
    sims.push_back(std::make_unique<Sim>(base + std::to_string(n), dir / ("sim" + std::to_string(n))));
  }
  for (auto& sim : sims) {
    if (!sim->Ready()) {
      std::fprintf(stderr, "simulator %s did not start\n", sim->address().c_str());
      return 1;
    }
  }

  // One instrument: the baseline, the better of three runs each.
  Timed oneIdentify, oneUpgrade;
  oneIdentify.seconds = oneUpgrade.seconds = 1e9;
  for (int i = 0; i < 3; ++i) {
    const Timed t = RunParlex2({"--lan", sims[0]->address(), "identify"}, dir / "one.log");
    if (t.status != 0) {
      std::fprintf(stderr, "identify of one instrument failed: %s\n",
                   ReadText(dir / "one.log").c_str());
      return 1;
    }
    if (t.seconds < oneIdentify.seconds) oneIdentify = t;
  }
  oneUpgrade = RunParlex2({"--lan", sims[0]->address(), "upgrade", "--yes",
                           (dir / "set.upg").string()},
                          dir / "one.log");
  if (oneUpgrade.status != 0) {
    std::fprintf(stderr, "upgrade of one instrument failed: %s\n",
                 ReadText(dir / "one.log").c_str());
    return 1;
  }
  std::printf("one instrument: identify %.2f s (parent %ld KiB), %d-record upgrade %.2f s\n",
              oneIdentify.seconds, oneIdentify.parentKiB, kUpgradeRecords, oneUpgrade.seconds);

  std::vector<Row> rows;
  for (std::size_t count : sizes) {
    Row row;
    row.count = count;
    std::vector<std::string> lans;
    for (std::size_t n = 0; n < count; ++n) lans.insert(lans.end(), {"--lan", sims[n]->address()});
    std::vector<std::string> args = {"--json", (dir / "identify.json").string()};
    args.insert(args.end(), lans.begin(), lans.end());
    args.push_back("identify");
    row.identify = RunParlex2(args, dir / "identify.log");
    row.identifiedOk = ReadSummary(dir / "identify.json", &row.childMeanKiB, &row.childMaxKiB);

    args = {"--json", (dir / "upgrade.json").string()};
    args.insert(args.end(), lans.begin(), lans.end());
    args.insert(args.end(), {"upgrade", "--yes", (dir / "set.upg").string()});
    row.upgrade = RunParlex2(args, dir / "upgrade.log");
    row.upgradedOk = ReadSummary(dir / "upgrade.json", nullptr, nullptr);
    for (std::size_t n = 0; n < count; ++n) {
      const auto flash = sims[n]->Flash();
      if (flash && flash->At(0).bytes == image) ++row.flashesRight;
    }
    rows.push_back(row);
    std::printf("%zu instruments: identify %.2f s, upgrade %.2f s\n", count, row.identify.seconds,
                row.upgrade.seconds);
  }

  std::printf("\n%-12s %11s %6s %11s %6s %9s %9s %11s %s\n", "instruments", "identify s", "x one",
              "upgrade s", "x one", "child KiB", "(max)", "parent KiB", "complete");
  std::printf("%-12d %11.2f %6.2f %11.2f %6.2f %9s %9s %11ld %s\n", 1, oneIdentify.seconds, 1.0,
              oneUpgrade.seconds, 1.0, "-", "-", oneIdentify.parentKiB, "yes");
  int exitStatus = 0;
  for (const Row& row : rows) {
    const double identifyRatio = row.identify.seconds / oneIdentify.seconds;
    const bool complete = row.identifiedOk == row.count && row.upgradedOk == row.count &&
                          row.flashesRight == row.count;
    std::printf("%-12zu %11.2f %6.2f %11.2f %6.2f %9llu %9llu %11ld %s\n", row.count,
                row.identify.seconds, identifyRatio, row.upgrade.seconds,
                row.upgrade.seconds / oneUpgrade.seconds,
                static_cast<unsigned long long>(row.childMeanKiB),
                static_cast<unsigned long long>(row.childMaxKiB),
                std::max(row.identify.parentKiB, row.upgrade.parentKiB),
                complete ? "yes" : "NO");
    if (!complete) {
      std::printf("  lost: identified %zu, upgraded %zu, flashes right %zu of %zu\n",
                  row.identifiedOk, row.upgradedOk, row.flashesRight, row.count);
      exitStatus = 1;
    }
    if (row.count == kIdentifyGoalAt && identifyRatio > kIdentifyGoal && exitStatus == 0) {
      std::printf("  goal missed: identify across %zu took %.2fx one instrument's time (goal %.1fx)\n",
                  row.count, identifyRatio, kIdentifyGoal);
      exitStatus = 2;
    }
  }
  std::printf("memory per instrument: each child's peak resident size (mean, max) plus the "
              "parent's share\n");
  return exitStatus;
}
