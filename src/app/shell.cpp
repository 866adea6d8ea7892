#include "app/shell.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "app/instrument_clock.h"
#include "app/poller.h"
#include "app/script_shell.h"
#include "common/clock.h"
#include "common/command_ids.h"
#include "common/product.h"
#include "common/ui.h"
#include "connect/identify.h"
#include "link/instrument_link.h"
#include "script/test_report.h"

namespace parlex2 {
namespace {

constexpr std::int32_t kBootcodeModel = 9998;

const char* InterfaceWord(InterfaceKind kind) {
  switch (kind) {
    case InterfaceKind::Lan:
      return "LAN";
    case InterfaceKind::Usb:
      return "USB";
    default:
      return "SER";
  }
}

}  // namespace

std::string ConnectedTitle(const InstrumentLink& link) {
  std::string title = BaseTitle() + "     " + InterfaceWord(link.settings.interfaceKind);
  const std::string& idn = link.info.idnReply;
  const std::size_t comma = idn.find(',');
  if (link.info.modelNumber == kBootcodeModel) {
    title += ",Bootcode Instrument";
  } else if (comma != std::string::npos) {
    title += idn.substr(comma);
  } else {
    title += ",Unknown Connection";
  }
  return title;
}

std::size_t PollByteLimit(std::size_t paneLength) {
  return std::clamp(paneLength / kPaneShareOfPoll, kPollByteLimitMin, kPollByteLimitMax);
}

bool WriteResultsFile(const std::string& path, const std::string& text) {
  std::string lines;
  lines.reserve(text.size());
  for (char c : text) {
    if (c != '\r') lines += c;
  }
  std::ofstream file(path, std::ios::out | std::ios::trunc);  // text mode: the platform's ends
  if (!file.is_open()) return false;
  file.write(lines.data(), static_cast<std::streamsize>(lines.size()));
  file.close();
  return !file.fail();
}

Shell::Shell(InstrumentLink& link, ShellHost& host, ShellWindow& window)
    : link_(link), host_(host), window_(window), engine_(host, state_) {}

bool Shell::connected() const { return link_.info.connected; }

void Shell::InitControls() {
  UpdateControls();
  for (const ControlLayout& row : ControlLayouts()) {
    window_.ShowControl(row.id, ControlShown(row.id, state_.scriptState));
  }
}

void Shell::FinishCreation() {
  host_.PostCommand(ID_CONFIGURE_CONNECTION, 0);
  RefreshInfoPanel();
}

bool Shell::Command(int id, std::intptr_t param) {
  // A button's click carries its own handle where a posted command has its
  // mark; menu items and accelerators carry 0.
  const int mark = window_.IsControlHandle(param) ? 0 : static_cast<int>(param);
  return RunCommand(id, mark);
}

bool Shell::RunCommand(int id, int mark) {
  switch (id) {
    case ID_CONNECTION_CHANGED:
      ConnectionChanged();
      return true;
    case ID_FOCUS_COMMAND:
      FocusCommand();
      return true;
    case ID_RECALL_LINE:
      RecallLine();
      return true;
    case ID_HISTORY_PREV:
      HistoryPrevious();
      return true;
    case ID_HISTORY_NEXT:
      HistoryNext();
      return true;
    case ID_RESULT_SAVE:
      SaveResults();
      return true;
    case ID_RESULT_SAVE_REPORT:
      SaveTestReport();
      return true;
    case IDC_SEND:
      Send();
      return true;
    case ID_RESULT_CLEAR:
      ClearResults();
      return true;
    case ID_CONVERT_BINARY:
      ConvertBinary();
      return true;
    case ID_TIME_STAMPS:
      ToggleTimeStamps();
      return true;
    case ID_CONFIGURE_CONNECTION:
      Connect(mark);
      return true;
    case ID_SET_DATE_TIME:
      SetDateTime();
      return true;
    case ID_DISCONNECT:
      Disconnect(mark);
      return true;
    case ID_SCRIPT:
      OpenScriptFile();
      return true;
    case IDC_RUN:
      RunOrStop(mark);
      return true;
    case IDC_STEP:
      Step();
      return true;
    case IDC_CLOSE:
      CloseScriptPanel();
      return true;
    default:
      return false;
  }
}

void Shell::Timer() {
  // While the upgrade holds the link, neither the poll nor a script touches it.
  if (link_.leased()) return;
  if (connected() && state_.pollingEnabled) {
    PollReceivedData(link_, lineBuffer_, state_, host_, kPollBudgetMs,
                     PollByteLimit(host_.ResultsLength()));
  }
  engine_.Tick();
  UpdateReportMenu();
}

void Shell::Layout() {
  for (const ControlPlacement& place :
       LayoutControls(window_.OuterSize(), window_.ClientSize(), reference_, state_.scriptState)) {
    window_.MoveControl(place.id, place.rect, place.anchored);
  }
}

void Shell::UseSettings(SettingsStore& store) {
  settings_ = &store;
  state_.timeStamps = LoadTimeStamps(store);
  window_.SetMenuItemChecked(ID_TIME_STAMPS, state_.timeStamps);
}

void Shell::Connect(int mark) {
  if (link_.leased()) return;
  if (mark == 0) {
    Disconnect(0);
    window_.ShowConnectDialog();
  } else {
    link_.info.connected = ConnectAndIdentify(host_.Ui(), link_, false);
  }
  host_.PostCommand(ID_CONNECTION_CHANGED, 0);
  lineBuffer_.Clear();
  engine_.instrument = ReportIdentity(link_.info);
  if (!connected()) {
    // A failed attempt may have left the port open: free it.
    link_.Close();
    return;
  }
  RefreshInfoPanel();
  state_.pollingEnabled = true;
  EnableInstrumentMenu(true);
  window_.SetTitle(ConnectedTitle(link_));
}

void Shell::Disconnect(int mark) {
  if (link_.leased()) return;
  if (mark != 0) engine_.NoteConnectionLost();  // a read failed
  EnableInstrumentMenu(false);
  link_.Close();
  state_.pollingEnabled = false;
  link_.info.connected = false;
  UpdateControls();
  if (mark != 0 && host_.Ui().ShowMessage(kReadFailedQuestion, kProductName, MessageIcon::Warning,
                                          MessageButtons::YesNo) == MessageAnswer::Yes) {
    host_.PostCommand(ID_CONFIGURE_CONNECTION, MARK_RECONNECT);
  }
  RefreshInfoPanel();
}

void Shell::RefreshInfoPanel() {
  window_.ShowInfoPanel(BuildInfoPanel(link_.settings, link_.info, GetClock().Now()));
}

void Shell::FollowLink() {
  // An upgrade under way holds the link (a second one asked for meanwhile
  // returns at once): the window follows when it is over.
  if (link_.leased()) return;
  const bool on = connected();
  if (!on) link_.Close();
  state_.pollingEnabled = on;
  EnableInstrumentMenu(on);
  UpdateControls();
  window_.SetTitle(on ? ConnectedTitle(link_) : BaseTitle());
  RefreshInfoPanel();
}

void Shell::ConnectionChanged() {
  UpdateControls();
  window_.FocusCommandBox(false);
}

void Shell::FocusCommand() { window_.FocusCommandBox(true); }

void Shell::RecallLine() {
  const std::optional<std::size_t> lineStart = window_.ResultsCaretLineStart();
  if (!lineStart) return;
  const std::string command = RecallFromLine(host_.ResultsText(), *lineStart);
  if (command.empty()) return;
  window_.SetControlText(IDC_COMMAND, command);
  host_.PostCommand(ID_FOCUS_COMMAND, 0);
}

void Shell::HistoryPrevious() { ShowRecalled(history_.Previous()); }

void Shell::HistoryNext() { ShowRecalled(history_.Next()); }

void Shell::ShowRecalled(const std::optional<std::string>& text) {
  if (!text) return;
  window_.SetControlText(IDC_COMMAND, *text);
  host_.PostCommand(ID_FOCUS_COMMAND, 0);
}

void Shell::SaveResults() {
  FileDialogOptions options;
  options.filterName = "Text File *.txt";
  options.filterPattern = "*.txt";
  options.defaultExtension = "txt";
  options.confirmOverwrite = true;
  const std::optional<std::string> path = host_.Ui().ChooseFileToSave(options);
  if (!path || path->empty()) {
    host_.Ui().ShowMessage(kNoSaveFileMessage, kProductName, MessageIcon::Information,
                           MessageButtons::Ok);
    return;
  }
  WriteResultsFile(*path, host_.ResultsText());  // a failed write is not reported
}

void Shell::SaveTestReport() {
  if (engine_.record().tests.empty()) return;
  FileDialogOptions options;
  options.title = "Save Test Report";
  options.filterName = "JUnit XML (*.xml)";
  options.filterPattern = "*.xml";
  options.moreFilters = {{"JSON (*.json)", "*.json"}};
  options.defaultExtension = "xml";
  options.confirmOverwrite = true;
  const std::optional<SaveFileChoice> choice = host_.Ui().ChooseFileAndTypeToSave(options);
  if (!choice || choice->path.empty()) return;  // cancelled
  const RunRecord record = engine_.RecordForReport();
  const ReportFormat format = ReportFormatFor(choice->path, choice->fileType);
  if (auto error = WriteReportFile(choice->path, ReportText(record, format))) {
    host_.Ui().ShowMessage(kReportNotWrittenMessage + choice->path + ": " + *error, kProductName,
                           MessageIcon::Warning, MessageButtons::Ok);
  }
}

void Shell::UpdateReportMenu() {
  const bool enabled = !engine_.record().tests.empty();
  if (enabled == reportMenuEnabled_) return;
  reportMenuEnabled_ = enabled;
  window_.SetMenuItemEnabled(ID_RESULT_SAVE_REPORT, enabled);
}

void Shell::Send() {
  std::string text = window_.ControlText(IDC_COMMAND);
  if (text.size() > 256) text.resize(256);
  if (!connected() || text.empty() || link_.leased()) return;
  if (parlex2::SendTypedCommand(link_, text)) {
    // The message box's own loop goes on delivering timer messages: the
    // poller must not meet the broken link meanwhile and ask its own
    // read-failure question after this message.
    state_.pollingEnabled = false;
    host_.Ui().ShowMessage(kCommsFailedMessage, kProductName, MessageIcon::Information,
                           MessageButtons::Ok);
    Disconnect(0);
    host_.PostCommand(ID_FOCUS_COMMAND, 0);
    return;
  }
  history_.Store(text);
  const std::string stamp = state_.timeStamps ? LineTimeStamp(GetClock().Now()) : std::string();
  host_.AppendText(stamp + "> " + text + "\r\n");
  host_.PostCommand(ID_FOCUS_COMMAND, 0);
}

void Shell::ClearResults() {
  host_.ClearResults();
  host_.PostCommand(ID_FOCUS_COMMAND, 0);
}

void Shell::ConvertBinary() {
  ToggleConvertBinary(state_);
  window_.SetMenuItemChecked(ID_CONVERT_BINARY, state_.convertBinary);
}

void Shell::ToggleTimeStamps() {
  state_.timeStamps = !state_.timeStamps;
  window_.SetMenuItemChecked(ID_TIME_STAMPS, state_.timeStamps);
  if (settings_) SaveTimeStamps(*settings_, state_.timeStamps);
}

void Shell::SetDateTime() {
  if (link_.leased()) return;
  SetInstrumentDateTime(link_);
  host_.PostCommand(ID_FOCUS_COMMAND, 0);
}

void Shell::OpenScriptFile() {
  if (OpenScript(engine_, connected()) == OpenScriptResult::Ignored) return;
  SwitchScriptPanel();
}

void Shell::RunOrStop(int mark) {
  if (mark == MARK_STOP_IF_RUNNING) {
    if (state_.scriptState != kScriptRunning) return;
    state_.scriptState = kScriptStopped;
  } else {
    ToggleRun(state_);
  }
  UpdateControls();
}

void Shell::Step() { RequestStep(state_); }

void Shell::CloseScriptPanel() {
  CloseScript(state_);
  SwitchScriptPanel();
  host_.PostCommand(ID_FOCUS_COMMAND, 0);
}

void Shell::UpdateControls() {
  for (const ControlLayout& row : ControlLayouts()) {
    window_.EnableControl(row.id, ControlEnabled(row.id, connected(), state_.scriptState));
  }
  window_.SetControlText(IDC_RUN, ScriptButtonsFor(state_.scriptState).runText);
}

void Shell::SwitchScriptPanel() {
  for (const ControlLayout& row : ControlLayouts()) {
    window_.ShowControl(row.id, ControlShown(row.id, state_.scriptState));
  }
  UpdateControls();
  Layout();
}

// The Script command does nothing either while not connected, so it is grey
// with the Instrument menu's items.
void Shell::EnableInstrumentMenu(bool enabled) {
  window_.SetMenuItemEnabled(ID_UPGRADE_FIRMWARE, enabled);
  window_.SetMenuItemEnabled(ID_SET_DATE_TIME, enabled);
  window_.SetMenuItemEnabled(ID_SCRIPT, enabled);
}

void RunPostedCommands(Shell& shell, BufferedShellHost& host,
                       const std::function<void(const PostedCommand&)>& handled) {
  while (auto command = host.TakePosted()) {
    if (handled) handled(*command);
    shell.RunCommand(command->id, command->mark);
  }
}

void RunTimerMessage(Shell& shell, BufferedShellHost& host,
                     const std::function<void(const PostedCommand&)>& handled) {
  shell.Timer();
  RunPostedCommands(shell, host, handled);
}

}  // namespace parlex2
