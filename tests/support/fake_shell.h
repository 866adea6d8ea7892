// A main window for shell and script tests: the buffered results pane and
// script list, a window that records what the shell did to its controls,
// title and menu, a link onto an in-memory instrument, a fake clock, and the
// timer message of the real window (poll, tick, then the posted commands, as
// a Windows message queue orders them), all through the program's Shell.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/buffered_shell_host.h"
#include "app/script_shell.h"
#include "app/shell.h"
#include "app/shell_window.h"
#include "app/terminal.h"
#include "common/command_ids.h"
#include "common/text.h"
#include "fake_clock.h"
#include "link/instrument_link.h"
#include "memory_transport.h"
#include "recording_ui.h"
#include "script/script_engine.h"

namespace parlex2::testing {

// What the shell did to the window, as the window would show it.
class RecordingWindow : public ShellWindow {
 public:
  std::map<int, bool> enabled, shown, menuEnabled, menuChecked;
  std::map<int, std::string> texts;
  std::vector<InfoSpan> panel;
  std::string title;
  std::vector<std::string> calls;        // focus and dialog calls, in order
  std::intptr_t controlHandle = 0x5150;  // the one "handle" a notification carries
  std::function<void()> connectDialog;   // what the Connect dialog does

  void EnableControl(int id, bool on) override { enabled[id] = on; }
  void ShowControl(int id, bool on) override { shown[id] = on; }
  void SetControlText(int id, std::string_view text) override { texts[id] = std::string(text); }
  std::string ControlText(int id) override { return texts[id]; }
  void FocusCommandBox(bool selectAll) override {
    calls.push_back(selectAll ? "focus+select" : "focus");
  }
  bool IsControlHandle(std::intptr_t param) override { return param == controlHandle; }
  void ShowInfoPanel(const std::vector<InfoSpan>& spans) override { panel = spans; }
  void SetTitle(std::string_view text) override { title = std::string(text); }
  void SetMenuItemEnabled(int id, bool on) override { menuEnabled[id] = on; }
  void SetMenuItemChecked(int id, bool on) override { menuChecked[id] = on; }
  void ShowConnectDialog() override {
    calls.push_back("connect dialog");
    if (connectDialog) connectDialog();
  }
};

class FakeShell final : public BufferedShellHost {
 public:
  FakeShell()
      : peer(std::make_shared<MemoryPeer>()),
        core(link, *this, window),
        state(core.state()),
        engine(core.engine()),
        lineBuffer(core.lineBuffer()) {
    UseMemoryPeer(link, peer);
    link.settings.interfaceKind = InterfaceKind::Lan;
    link.settings.ipAddress = "127.0.0.1";
    link.Open();
    link.info.connected = true;
    peer->written.clear();  // the wake byte
    state.pollingEnabled = true;
  }

  FakeClock clock;
  RecordingUi ui;
  RecordingWindow window;
  std::shared_ptr<MemoryPeer> peer;
  InstrumentLink link;
  Shell core;
  ShellState& state;
  ScriptEngine& engine;
  ReceivedLineAssembler& lineBuffer;
  int beeps = 0;
  std::uint64_t tickStep = 0;            // ms the clock moves on each look at it
  std::vector<std::size_t> appendSizes;  // one a call of AppendText
  std::vector<PostedCommand> handled;    // posted commands, in the order handled

  void AppendText(std::string_view text) override {
    appendSizes.push_back(text.size());
    BufferedShellHost::AppendText(text);
  }
  std::uint64_t TickCount() override {
    clock.Advance(tickStep);
    return clock.TickMs();
  }
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
    RunTimerMessage(core, *this, [this](const PostedCommand& c) { handled.push_back(c); });
  }

  void HandlePosted() {
    RunPostedCommands(core, *this, [this](const PostedCommand& c) { handled.push_back(c); });
  }

  // A menu item chosen or a button pressed by the user.
  void Press(int id) { core.Command(id, window.controlHandle); }

  // A command typed into the command box and sent with the Send button.
  void Send(const std::string& text) {
    window.texts[IDC_COMMAND] = text;
    Press(IDC_SEND);
  }

  // The instrument on the peer answers the identification.
  void AnswerIdentification() {
    peer->respond = Answers({{"*IDN?\n", "OVL,ZQM44,4711,2.01\n"},
                             {"calstr?\n", "12_MAR_2023,x\n"},
                             {"calver?\n", "01_APR_2024\n"},
                             {"version?\n", "v,T,1,2,3,4\n"}});
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

  // Every command the program sent, without line ends, in order.
  std::vector<std::string> Sent() const { return SplitText(peer->written, '\n'); }
};

}  // namespace parlex2::testing
