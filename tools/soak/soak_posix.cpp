// parlex2-soak: asks a running parlex2-sim for its soak stream ("soak BYTES")
// and reads it the way the terminal does, through InstrumentLink and
// PollReceivedData with binary conversion on and the main window's time
// budget and read limit for each poll, checking that every line arrives once,
// in order and undamaged, and sampling this process's resident memory and the
// largest poll as the stream goes by.
//
//   parlex2-soak --lan 127.0.0.5 --bytes 104857600
//   parlex2-soak --usb /tmp/x/com7 --bytes 2000000
//
// Exit status 0 when every line and the end line's counts agree, 1 otherwise.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "app/poller.h"
#include "app/shell.h"
#include "app/terminal.h"
#include "common/command_ids.h"
#include "common/shell_state.h"
#include "common/text.h"
#include "common/ui.h"
#include "link/binary_value.h"
#include "link/instrument_link.h"
#include "script/shell_host.h"
#include "sim/soak.h"

namespace {

using namespace parlex2;

long ResidentKb() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0;
  long resident = 0;
  statm >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", value);
  return text;
}

class NoUi final : public UserInterface {
 public:
  MessageAnswer ShowMessage(std::string_view text, std::string_view caption, MessageIcon,
                            MessageButtons, bool) override {
    std::cerr << caption << ": " << text << "\n";
    return MessageAnswer::Ok;
  }
  void BeginWait() override {}
  void EndWait() override {}
  std::optional<std::string> ChooseFileToOpen(const FileDialogOptions&) override { return {}; }
  std::optional<std::string> ChooseFileToSave(const FileDialogOptions&) override { return {}; }
};

// The results pane of the soak: checks each line instead of keeping it.
class CheckingPane final : public ShellHost {
 public:
  std::uint64_t lines = 0;     // good lines, in order
  std::uint64_t rawBytes = 0;  // their bytes as sent
  std::uint64_t lost = 0, doubled = 0, damaged = 0;
  bool ended = false, endAgrees = false, disconnected = false;
  std::size_t shownLength = 0;

  // The poller shows all the lines of one poll in one append, each ending
  // "\r\n"; the append as a whole must end at a line's end.
  void AppendText(std::string_view text) override {
    shownLength += text.size();
    if (text.size() < 2 || text.substr(text.size() - 2) != "\r\n") return Damaged(text);
    for (std::size_t start = 0; start < text.size();) {
      const std::size_t end = text.find("\r\n", start);
      CheckLine(text.substr(start, end - start));
      start = end + 2;
    }
  }

  std::string ResultsText() override { return {}; }
  // As long as the window's pane would be, so the poll's read limit grows
  // with it as it does there.
  std::size_t ResultsLength() override { return shownLength; }
  void ClearResults() override {}
  void ClearScriptList() override {}
  void AddScriptLine(std::string_view) override {}
  int ScriptLineCount() override { return 0; }
  std::string ScriptLine(int) override { return {}; }
  int ScriptSelection() override { return -1; }
  void SelectScriptLine(int) override {}
  void PostCommand(int id, int) override { disconnected |= id == ID_DISCONNECT; }
  void Beep() override {}
  bool SendTypedCommand(std::string_view) override { return true; }
  UserInterface& Ui() override { return ui_; }

 private:
  void CheckLine(std::string_view text) {
    const std::string line(text);
    const std::vector<std::string> fields = SplitText(line, ',');
    if (fields.size() == 3 && fields[0] == "end") {
      ended = true;
      endAgrees = fields[1] == std::to_string(lines) && fields[2] == std::to_string(rawBytes);
      return;
    }
    if (fields.size() != 4 || (fields[0] != "t" && fields[0] != "b")) return Damaged(text);
    const std::uint64_t n = std::strtoull(fields[1].c_str(), nullptr, 10);
    bool good;
    if (fields[0] == "t") {
      good = fields[3] == Hex(sim::SoakHash("t," + fields[1] + "," + fields[2]));
    } else {
      good = fields[3] == Hex(sim::SoakHash("b," + fields[1])) &&
             fields[2] == FormatBinaryValue(sim::SoakValue(n));
    }
    if (!good) return Damaged(text);
    if (n <= lines) {
      ++doubled;
      return;
    }
    if (n > lines + 1) lost += n - lines - 1;
    for (std::uint64_t k = lines + 1; k <= n; ++k) rawBytes += sim::SoakLine(k).size();
    lines = n;
  }
  void Damaged(std::string_view text) {
    if (++damaged <= 5) std::cerr << "damaged line: " << std::string(text.substr(0, 120)) << "\n";
  }
  NoUi ui_;
};

int RunSoak(int argc, char** argv) {
  CLI::App app{"parlex2-soak: read parlex2-sim's soak stream through the link and the poller"};
  std::string lan, usb;
  std::uint64_t bytes = 100ull << 20;
  int stallSeconds = 20;
  auto* lanOption = app.add_option("--lan", lan, "the simulator's TCP address (port 10001)");
  app.add_option("--usb", usb, "the simulator's pseudo-terminal path")->excludes(lanOption);
  app.add_option("--bytes", bytes, "bytes to stream (default 100 MiB)");
  app.add_option("--stall", stallSeconds, "give up after this many seconds without a line");
  CLI11_PARSE(app, argc, argv);
  if (lan.empty() == usb.empty()) {
    std::cerr << "parlex2-soak: give --lan or --usb\n";
    return 2;
  }

  InstrumentLink link;
  link.settings.interfaceKind = lan.empty() ? InterfaceKind::Usb : InterfaceKind::Lan;
  link.settings.ipAddress = lan;
  link.settings.comPort = usb;
  link.settings.baudRate = kUsbBaudRate;
  if (link.Open() != 0) {
    std::cerr << "parlex2-soak: cannot open the link: " << link.LastError() << "\n";
    return 1;
  }
  ShellState state;
  state.convertBinary = true;
  state.pollingEnabled = true;
  ReceivedLineAssembler lineBuffer;
  CheckingPane pane;
  if (SendTypedCommand(link, "soak " + std::to_string(bytes))) {
    std::cerr << "parlex2-soak: the soak command did not go out\n";
    return 1;
  }

  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  auto lastProgress = start;
  std::uint64_t lastLines = 0;
  const long startKb = ResidentKb();
  long maxKb = startKb;
  std::vector<std::pair<std::uint64_t, long>> samples;  // MiB read, resident KiB
  std::uint64_t nextSample = 0;
  std::size_t maxPoll = 0;
  std::printf("%10s %12s %10s %14s\n", "MiB", "resident KiB", "MiB/s", "largest poll");
  while (!pane.ended && !pane.disconnected) {
    link.WaitReadable(200);
    const std::size_t polled = PollReceivedData(link, lineBuffer, state, pane, kPollBudgetMs,
                                             PollByteLimit(pane.shownLength));
    if (polled > maxPoll) maxPoll = polled;
    const auto now = Clock::now();
    if (pane.lines != lastLines) {
      lastLines = pane.lines;
      lastProgress = now;
    } else if (now - lastProgress > std::chrono::seconds(stallSeconds)) {
      std::cerr << "parlex2-soak: nothing for " << stallSeconds << " s\n";
      break;
    }
    const long kb = ResidentKb();
    if (kb > maxKb) maxKb = kb;
    if (pane.rawBytes >= nextSample) {
      const double seconds = std::chrono::duration<double>(now - start).count();
      const double mib = static_cast<double>(pane.rawBytes) / (1 << 20);
      samples.emplace_back(pane.rawBytes, kb);
      std::printf("%10.1f %12ld %10.2f %14zu\n", mib, kb, seconds > 0 ? mib / seconds : 0.0, maxPoll);
      std::fflush(stdout);
      nextSample += std::max<std::uint64_t>(bytes / 10, 1);
    }
  }
  link.Close();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const long endKb = ResidentKb();
  const bool good = pane.ended && pane.endAgrees && pane.lost == 0 && pane.doubled == 0 &&
                    pane.damaged == 0 && !pane.disconnected;
  // Growth after the first tenth: what a leak per line would show.
  const long settledKb = samples.size() > 1 ? samples[1].second : startKb;
  std::printf(
      "soak: %llu lines, %llu bytes in %.1f s (%.2f MiB/s); lost %llu, doubled %llu, damaged %llu, "
      "end line %s; resident KiB start %ld, after a tenth %ld, end %ld, max %ld (growth after "
      "a tenth %+ld); largest poll %zu bytes\n",
      static_cast<unsigned long long>(pane.lines), static_cast<unsigned long long>(pane.rawBytes),
      seconds, seconds > 0 ? static_cast<double>(pane.rawBytes) / (1 << 20) / seconds : 0.0,
      static_cast<unsigned long long>(pane.lost), static_cast<unsigned long long>(pane.doubled),
      static_cast<unsigned long long>(pane.damaged),
      pane.ended ? (pane.endAgrees ? "agrees" : "DISAGREES") : "MISSING", startKb, settledKb, endKb,
      maxKb, endKb - settledKb, maxPoll);
  std::printf("%s\n", good ? "soak: PASSED" : "soak: FAILED");
  return good ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return RunSoak(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "parlex2-soak: %s\n", e.what());
  } catch (...) {
    std::fputs("parlex2-soak: unexpected failure\n", stderr);
  }
  return 1;
}
