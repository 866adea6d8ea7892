// The main window's logic, whatever shows it: the command table (connect and
// disconnect sequences, terminal, script panel, clock command), the timer's
// work, the title, the menu states and the layout pass. The Windows main
// window binds its controls and messages to it, the command line runs scripts
// through it without a window, and tests drive it on fakes.
//
// It owns the shell's shared state, the received-line buffer, the command
// history and the script engine; the link, the results pane and script list
// (ShellHost) and the window (ShellWindow) are the caller's. UI thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "app/buffered_shell_host.h"
#include "app/command_history.h"
#include "app/settings.h"
#include "app/shell_window.h"
#include "app/terminal.h"
#include "common/shell_state.h"
#include "script/script_engine.h"
#include "script/shell_host.h"

namespace parlex2 {

class InstrumentLink;

// How long one timer message may spend reading received data; the rest
// waits in the link for the next message, so the window keeps answering
// under a stream faster than it can read. The window's edit control shows
// what was read in a message of its own (ResultsPane), so the two costs never
// add up in one message.
inline constexpr std::uint64_t kPollBudgetMs = 20;
// The most one timer message reads also grows with the results pane's text
// (about a sixteenth of it, within these bounds), so a front end that appends
// each poll's lines at once keeps those appends in step with its pane.
inline constexpr std::size_t kPollByteLimitMin = std::size_t{16} * 1024;
inline constexpr std::size_t kPollByteLimitMax = std::size_t{1024} * 1024;
inline constexpr std::size_t kPaneShareOfPoll = 16;

// The read limit of one poll for a pane holding `paneLength` characters.
std::size_t PollByteLimit(std::size_t paneLength);

inline constexpr char kCommsFailedMessage[] = "Comms Failed - the connection will be closed";
inline constexpr char kReadFailedQuestion[] =
    "A problem has occurred trying to read data from the instrument. Would you like to attempt "
    "to re-establish communications?";
inline constexpr char kNoSaveFileMessage[] = "Unable to create text file";
// Followed by the file's path, a colon and the reason.
inline constexpr char kReportNotWrittenMessage[] = "Unable to write the test report ";

// The title of a connected window: the base title, five blanks, "LAN", "USB"
// or "SER", then ",Bootcode Instrument" for a boot-code instrument, the
// *IDN? reply from its first comma on, or ",Unknown Connection" when the
// reply is empty or holds no comma (nothing in it names a model or serial).
std::string ConnectedTitle(const InstrumentLink& link);

// Writes the results pane's text to `path` with every carriage return
// removed and each line ended the platform's text-file way. False when the
// file could not be written.
bool WriteResultsFile(const std::string& path, const std::string& text);

class Shell {
 public:
  Shell(InstrumentLink& link, ShellHost& host, ShellWindow& window);

  // Creation: every control disabled, the terminal's controls shown and the
  // script panel's hidden.
  void InitControls();
  // The end of creation: the Connect dialog asked for (ID_CONFIGURE_CONNECTION
  // posted with no mark), the information panel filled.
  void FinishCreation();

  // A command message: `id` and its second parameter. A child control's
  // notification carries the control's handle there, which is no mark. False
  // for an ID the shell has no handler for.
  bool Command(int id, std::intptr_t param);
  // A command with its mark, as posted by the program itself.
  bool RunCommand(int id, int mark);

  // The window timer: received data while connected and polling, then the
  // script engine's tick; nothing while the link is leased.
  void Timer();

  // One layout pass for the window's current size (not while minimised).
  void Layout();

  // The settings file the shell keeps its switches in (the "Time Stamps"
  // menu item). Reads them now and checks the menu to match; each change is
  // written at once.
  void UseSettings(SettingsStore& store);

  void SetReferenceSize(WindowSize reference) { reference_ = reference; }
  WindowSize referenceSize() const { return reference_; }

  InstrumentLink& link() { return link_; }
  ShellState& state() { return state_; }
  ScriptEngine& engine() { return engine_; }
  CommandHistory& history() { return history_; }
  ReceivedLineAssembler& lineBuffer() { return lineBuffer_; }
  bool connected() const;

  // The sequences, also run directly by other commands. Like Set Date/Time
  // and a typed command, they do nothing while the link is leased.
  void Connect(int mark);
  void Disconnect(int mark);
  void RefreshInfoPanel();

  // After a command that closes, reopens and identifies the link outside the
  // sequences above (the firmware upgrade), on every way out of it: the
  // title, the information panel, the menus, the controls and polling follow
  // the link's connected flag. A link left open with no identified
  // instrument is closed, so its port is free. Nothing while the link is
  // leased.
  void FollowLink();

 private:
  void ConnectionChanged();
  void FocusCommand();
  void RecallLine();
  void HistoryPrevious();
  void HistoryNext();
  void ShowRecalled(const std::optional<std::string>& text);
  void SaveResults();
  void SaveTestReport();
  void UpdateReportMenu();
  void Send();
  void ClearResults();
  void ConvertBinary();
  void ToggleTimeStamps();
  void SetDateTime();
  void OpenScriptFile();
  void RunOrStop(int mark);
  void Step();
  void CloseScriptPanel();
  void UpdateControls();
  void SwitchScriptPanel();
  void EnableInstrumentMenu(bool enabled);

  InstrumentLink& link_;
  ShellHost& host_;
  ShellWindow& window_;
  ShellState state_;
  ReceivedLineAssembler lineBuffer_;
  CommandHistory history_;
  ScriptEngine engine_;
  WindowSize reference_;
  bool reportMenuEnabled_ = false;  // Save Test Report... (greyed at start)
  SettingsStore* settings_ = nullptr;
};

// Where there is no window (the command line, tests): the commands posted so
// far, in order, as the main window's message queue delivers them; `handled`
// (when given) sees each before it runs.
void RunPostedCommands(Shell& shell, BufferedShellHost& host,
                       const std::function<void(const PostedCommand&)>& handled = {});
// One timer message of the main window there: the timer's work, then the
// commands posted meanwhile.
void RunTimerMessage(Shell& shell, BufferedShellHost& host,
                     const std::function<void(const PostedCommand&)>& handled = {});

}  // namespace parlex2
