// Script files and their lines: the file read into the script list, then run
// on a fake main window and clock against an instrument that answers every
// command with the next piece of the input. Covers every "#" command and the
// "=" calculator lines the input holds.
//
// Properties: the script list keeps only lines it may hold and counts the
// script-file test's lines correctly; everything sent is one of the script's
// quote lines as a typed command; after each round of simulated time (60 s)
// the run is stopped or still running, with the selection inside the list; a
// printed pane has CR LF line ends only.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/terminal.h"
#include "common/text.h"
#include "fuzz_check.h"
#include "script/script_file.h"
#include "support/fake_shell.h"
#include "support/temp_folder.h"

using namespace parlex2;

namespace {

// #print writes where the script says; here it always writes into a folder of
// this process's own.
const std::string& PrintPath() {
  static const testing::TempFolder folder("parlex2-fuzz-script");
  static const std::string path = folder.File("pane.txt");
  return path;
}

bool OnlyCrLf(const std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) return false;
    if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string file = input.ConsumeRandomLengthString(6000);
  const bool stepping = input.ConsumeBool();

  std::istringstream in(file);
  std::vector<std::string> lines;
  const ScriptScan scan = ScanScript(in, &lines);
  std::size_t quoteLines = 0;
  std::set<std::string> typed;  // what the quote lines go out as
  for (std::string& line : lines) {
    FUZZ_CHECK(!line.empty() && line.size() < kScriptLineMax);
    FUZZ_CHECK(line.find_first_of(std::string("\n\0", 2)) == std::string::npos);
    FUZZ_CHECK(line.front() != '\x1a');
    if (line.front() == '"') {
      ++quoteLines;
      typed.insert(TypedCommandBytes(std::string_view(line).substr(1)));
    }
    if (line.size() >= 6 && StartsWithNoCase(std::string_view(line).substr(1), "print")) {
      line = "#print," + PrintPath();
    }
  }
  FUZZ_CHECK(static_cast<std::size_t>(scan.quoteLines) >= quoteLines);
  FUZZ_CHECK(static_cast<std::size_t>(scan.quoteLines + scan.hashLines) <= file.size());
  if (lines.empty()) return 0;

  parlex2::testing::FakeShell shell;
  bool foreign = false;
  shell.peer->respond = [&](parlex2::testing::MemoryPeer& peer, const std::string& bytes) {
    if (!typed.count(bytes)) foreign = true;
    if (input.remaining_bytes() == 0) return;
    peer.Queue(input.ConsumeRandomLengthString(200));
    if (input.ConsumeProbability<float>() < 0.01f) peer.failWrites = true;
  };
  shell.Load(lines);
  std::remove(PrintPath().c_str());

  // Runs (or steps) from the top; after a #wait or a failed test, carries on
  // from where it stopped, a bounded number of times.
  const int count = shell.ScriptLineCount();
  for (int round = 0; round < 4; ++round) {
    if (stepping) {
      for (int step = 0; step < 32 && shell.state.scriptState == kScriptStopped; ++step) {
        shell.Press(IDC_STEP);
        shell.RunFor(600, 3);
        if (shell.ScriptSelection() < 0) break;
      }
    } else {
      shell.Press(IDC_RUN);
      for (int t = 0; t < 12000 && shell.state.scriptState == kScriptRunning; ++t) {
        shell.clock.Advance(5);
        shell.Timer();
      }
    }
    FUZZ_CHECK(shell.ScriptSelection() >= -1 && shell.ScriptSelection() < count);
    FUZZ_CHECK(shell.state.receivedCount >= -1);
    if (shell.state.scriptState != kScriptStopped || shell.ScriptSelection() < 0) break;
  }
  FUZZ_CHECK(shell.state.scriptState == kScriptStopped ||
             shell.state.scriptState == kScriptRunning);
  FUZZ_CHECK(!foreign);
  FUZZ_CHECK(shell.engine.calculator().failCount >= 0);

  FUZZ_CHECK(OnlyCrLf(parlex2::testing::ReadFileBytes(PrintPath())));
  return 0;
}
