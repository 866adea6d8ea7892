// A main window for script tests: the buffered results pane and script list,
// a link onto an in-memory instrument, a fake clock, and the timer message of
// the real window (poll, tick, then the posted commands, as a Windows message
// queue orders them).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/buffered_shell_host.h"
#include "app/poller.h"
#include "app/script_shell.h"
#include "app/terminal.h"
#include "common/command_ids.h"
#include "fake_clock.h"
#include "link/instrument_link.h"
#include "memory_transport.h"
#include "recording_ui.h"
#include "script/script_engine.h"

namespace parlex2::testing {

class FakeShell final : public BufferedShellHost {
 public:
  FakeShell() : peer(std::make_shared<MemoryPeer>()), engine(*this, state) {
    UseMemoryPeer(link, peer);
    link.settings.interfaceKind = InterfaceKind::Lan;
    link.settings.ipAddress = "127.0.0.1";
    link.Open();
    peer->written.clear();  // the wake byte
    state.pollingEnabled = true;
  }

  FakeClock clock;
  RecordingUi ui;
  std::shared_ptr<MemoryPeer> peer;
  InstrumentLink link;
  ShellState state;
  ReceivedLineAssembler lineBuffer;
  ScriptEngine engine;
  int beeps = 0;
  std::vector<PostedCommand> handled;  // posted commands, in the order handled

  void Beep() override { ++beeps; }
  bool SendTypedCommand(std::string_view text) override {
    return parlex2::SendTypedCommand(link, text);
  }
  UserInterface& Ui() override { return ui; }

  // A loaded, stopped script.
  void Load(const std::vector<std::string>& lines) {
    ClearScriptList();
    for (const auto& line : lines) AddScriptLine(line);
    state.scriptState = kScriptStopped;
  }

  // One timer message of the main window, then the commands it posted.
  void Timer() {
    if (link.portOpen() && state.pollingEnabled) PollReceivedData(link, lineBuffer, state, *this);
    engine.Tick();
    HandlePosted();
  }

  void HandlePosted() {
    while (auto command = TakePosted()) {
      handled.push_back(*command);
      Press(command->id);
    }
  }

  // A command as the main window handles it.
  void Press(int id) {
    switch (id) {
      case IDC_RUN:
        ToggleRun(state);
        break;
      case IDC_STEP:
        RequestStep(state);
        break;
      case IDC_CLOSE:
        CloseScript(state);
        break;
      case ID_RESULT_CLEAR:
        ClearResults();
        break;
      case ID_CONVERT_BINARY:
        ToggleConvertBinary(state);
        break;
      default:
        break;
    }
  }

  // Timer messages every `period` ms for `milliseconds`.
  void RunFor(std::uint64_t milliseconds, std::uint64_t period = 1) {
    for (std::uint64_t t = 0; t < milliseconds; t += period) {
      clock.Advance(period);
      Timer();
    }
  }

  // Timer messages every ms until the script stops (at most `limit` ms).
  // Returns the milliseconds that passed.
  std::uint64_t RunUntilStopped(std::uint64_t limit = 1000000) {
    const std::uint64_t start = clock.TickMs();
    while (state.scriptState == kScriptRunning && clock.TickMs() - start < limit) {
      clock.Advance(1);
      Timer();
    }
    return clock.TickMs() - start;
  }

  int RunCommandsHandled() const {
    int n = 0;
    for (const auto& c : handled) n += c.id == IDC_RUN;
    return n;
  }

  // Every command the program sent, without line ends, in order.
  std::vector<std::string> Sent() const {
    std::vector<std::string> out;
    std::string current;
    for (char c : peer->written) {
      if (c == '\n') {
        out.push_back(current);
        current.clear();
      } else {
        current += c;
      }
    }
    return out;
  }
};

}  // namespace parlex2::testing
