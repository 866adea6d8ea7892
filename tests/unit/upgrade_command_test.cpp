// The upgrade command from file choice to the worker, against the simulator's
// instrument in process: every refusal, the checks as tables, and the link
// left to the command alone.
#include "upgrade/upgrade_command.h"

#include <gtest/gtest.h>

#include "common/product.h"
#include "common/shell_state.h"
#include "connect/identify.h"
#include "support/fake_clock.h"
#include "support/recording_ui.h"
#include "support/upgrade_front_end.h"
#include "support/upgrade_support.h"
#include "upgrade/boot_protocol.h"
#include "upgrade/upgrade_checks.h"

namespace parlex2 {
namespace {

using testing::FakeClock;
using testing::HexFile;
using testing::RecordingFrontEnd;
using testing::RecordingUi;
using testing::SimulatedInstrument;
using testing::TempFolder;

class UpgradeCommandTest : public ::testing::Test {
 protected:
  // A fresh simulated instrument of identity `idn` behind the link; new dialogs.
  void Connect(const char* idn, const char* version, InterfaceKind kind = InterfaceKind::Usb,
               bool connected = true, sim::Personality personality = sim::Personality::kNormal) {
    sim::InstrumentConfig config;
    config.idn = idn;
    config.version = version;
    config.personality = personality;
    link_.Close();
    link_.info = {};
    device_ = std::make_unique<SimulatedInstrument>(std::move(config));
    device_->Attach(link_);
    link_.settings.interfaceKind = kind;
    link_.info.connected = connected;
    if (connected) link_.Open();
    state_.pollingEnabled = true;
    frontEnd_.emplace(link_, &state_);
    ui_ = RecordingUi{};
  }

  std::string Descriptor(const std::string& text, const std::string& name = "set.upg") {
    for (const char* file : {"a.hex", "b.hex", "c.hex", "d.hex"})
      dir_.Write(file, HexFile(file[0], 1, 0));
    return dir_.Write(name, text);
  }

  UpgradeResult Run(const std::optional<std::string>& path, bool identifiedJustNow = false) {
    ui_.files.push_back(path);
    UpgradeCommandContext context{ui_,    *frontEnd_,         link_,        state_,
                                  clock_, SystemFileFinder(), std::nullopt, identifiedJustNow};
    UpgradeResult result = RunUpgradeCommand(context);
    EXPECT_TRUE(state_.pollingEnabled) << "polling not restored";
    return result;
  }

  // The messages shown: caption and text.
  using Shown = std::vector<std::pair<std::string, std::string>>;
  Shown Messages() const {
    Shown shown;
    for (const auto& m : ui_.messages) shown.emplace_back(m.caption, m.text);
    return shown;
  }

  FakeClock clock_;
  InstrumentLink link_;
  ShellState state_;
  RecordingUi ui_;
  std::optional<RecordingFrontEnd> frontEnd_;
  TempFolder dir_;
  std::unique_ptr<SimulatedInstrument> device_;
};

// Every way the command ends before the worker runs: what the user is shown
// (caption, text), how often *IDN? goes out (a failed identification asks
// five times), and the list's rows when it is reached, declined unless the
// row accepts it. The boot loader is never woken.
TEST_F(UpgradeCommandTest, EveryRefusalHasItsMessageAndSendsNothingButIdentification) {
  using R = RefusalReason;
  using O = UpgradeOutcome;
  const auto Product = [](const char* text) { return Shown{{kProductName, text}}; };
  const char* kTwoTables =
      "TARGET,VXM66,200,gteq,x\nLOAD,0,a.hex\nLOAD,1,b.hex\nLOAD,2,c.hex\n"
      "TARGET,VXM66,200,lt,x\nLOAD,3,d.hex\n";
  std::string fifty = "TARGET,VXM66\n";
  for (int i = 0; i < 50; ++i) fifty += "LOAD,0,a.hex\n";
  const std::pair<std::string, std::string> question{kProductName, kNoInstrumentQuestion};
  // What a run ends with: the result, the messages shown, the *IDN? sent,
  // the listed files ("": no list).
  struct Outcome {
    UpgradeResult result = {O::Refused, R::ListDeclined};
    Shown messages = {};
    std::size_t idnSends = 1;
    const char* rows = "";
  };
  struct Case {
    const char* what;
    std::string descriptor = "TARGET,VXM66\nLOAD,0,a.hex";
    const char* file = "set.upg";  // nullptr: the file dialog is cancelled
    std::size_t pathLength = 0;    // else a path of this length, of no file
    const char* idn = "Veltmark,VXM66,1,1";
    const char* version = "V,150";
    sim::Personality personality = sim::Personality::kNormal;
    InterfaceKind kind = InterfaceKind::Usb;
    bool connected = true;
    bool identifiedJustNow = false;
    int script = kScriptStopped;
    std::deque<MessageAnswer> answers = {};  // to the questions, in order
    bool accept = false;
    Outcome then;
  };
  const Outcome noLoadLines{{O::Refused, R::NoLoadLines}, {{kUpgradeCaption, kNoLoadLines}}};
  const Outcome scriptBusy{
      {O::Refused, R::ScriptRunning}, {{kUpgradeCaption, kScriptRunningMessage}}, 0};
  const Case cases[] = {
      {.what = "suits; the extension in capitals", .file = "SET.UPG", .then = {.rows = "a.hex "}},
      {.what = "just identified",
       .identifiedJustNow = true,
       .then = {.idnSends = 0, .rows = "a.hex "}},
      {.what = "the first table chosen, with its own count",
       .descriptor = kTwoTables,
       .version = "V,250",
       .then = {.rows = "a.hex b.hex c.hex "}},
      {.what = "second table, one entry", .descriptor = kTwoTables, .then = {.rows = "d.hex "}},
      {.what = "another model",
       .descriptor = "TARGET,VXM26\nLOAD,0,a.hex",
       .then = {{O::Refused, R::ModelMismatch},
                {{kProductName, ModelMismatchMessage("VXM26", "Veltmark,VXM66,1,1")}}}},
      {.what = "condition not met",
       .descriptor = "TARGET,VXM66,200,gteq,x\nLOAD,0,a.hex",
       .then = {{O::Refused, R::Incompatible},
                Product("The connected instrument is incompatible with the selected firmware")}},
      {.what = "no usable target",
       .descriptor = "TARGET,VXM66\nTARGET,VXM66,200\nLOAD,0,a.hex",
       .then = {{O::Refused, R::NoUsableTarget},
                Product("Error reading firmware, unable to determine firmware target")}},
      {.what = "version reply unreadable",
       .descriptor = "TARGET,VXM66,200,lt,x\nLOAD,0,a.hex",
       .version = "V150",
       .then = {{O::Refused, R::VersionUnreadable},
                Product("Error communicating with instrument, unable to determine instrument "
                        "internal version")}},
      {.what = "upz is not read", .file = "set.upz", .then = noLoadLines},
      {.what = "fifty entries", .descriptor = fifty, .then = {{O::Refused, R::TooManyEntries}}},
      {.what = "warning cancelled",
       .descriptor = "TARGET,VXM66\nWARNING,Read the notes first\nLOAD,0,a.hex",
       .answers = {MessageAnswer::Cancel},
       .then = {{O::Refused, R::WarningDeclined},
                {{kFirmwareWarningCaption, "Read the notes first"}}}},
      {.what = "a blocked list, whatever the front end answers",
       .descriptor = "TARGET,VXM66\nLOAD,0,a.hex\nLOAD,1,gone.hex",
       .accept = true,
       .then = {{O::Refused, R::ListBlocked}, {}, 1, "a.hex gone.hex "}},
      {.what = "every entry for other serial numbers",
       .descriptor = "TARGET,VXM66\nSERIAL,2,300,0\nLOAD,0,a.hex\nOVER,1,b.hex\n",
       .idn = "Veltmark,VXM66,150,2.15",
       .then = {{O::Refused, R::NothingToWrite}, {{kUpgradeCaption, kNothingToWrite}}}},
      {.what = "not the main hex file",
       .file = "main.hex",
       .then = {{O::Refused, R::NotMainHex},
                {{kUpgradeCaption,
                  "Please choose the main hex file for the Instrument to upgrade"}}}},
      {.what = "file dialog cancelled", .file = nullptr, .then = {{O::Cancelled}, {}, 0}},
      {.what = "path longer than the command reads",
       .pathLength = kUpgradePathMax + 1,
       .then = {{O::Refused, R::PathTooLong}, noLoadLines.messages, 0}},
      {.what = "longest path read", .pathLength = kUpgradePathMax, .then = noLoadLines},
      {.what = "script running", .script = kScriptRunning, .then = scriptBusy},
      {.what = "script stepping", .script = kScriptStep, .then = scriptBusy},
      {.what = "serial-only model over the LAN",
       .idn = "Veltmark,ZQM7133,1,1",
       .kind = InterfaceKind::Lan,
       .then = {{O::Refused, R::LanSerialOnly},
                Product("ZQM7133 and ZQMM7186 instruments can only upgrade firmware using a "
                        "serial connection")}},
      {.what = "not connected, No",
       .connected = false,
       .answers = {MessageAnswer::No},
       .then = {{O::NoInstrument}, {question}, 0}},
      {.what = "identification just failed, No",
       .connected = false,
       .identifiedJustNow = true,
       .answers = {MessageAnswer::No},
       .then = {{O::NoInstrument}, {question}, 0}},
      {.what = "silent, No",
       .personality = sim::Personality::kSilent,
       .answers = {MessageAnswer::No},
       .then = {{O::NoInstrument}, {question}, 5}},
      // Identified only after the question, so not detected: an ordinary
      // model fails the model check, naming both models.
      {.what = "not connected, Yes",
       .connected = false,
       .answers = {MessageAnswer::Yes},
       .then = {{O::Refused, R::ModelMismatch},
                {question, {kProductName, ModelMismatchMessage("VXM66", "Veltmark,VXM66,1,1")}}}},
      // Said plainly instead of "no load lines".
      {.what = "not connected, Yes, and nobody answers",
       .personality = sim::Personality::kSilent,
       .connected = false,
       .answers = {MessageAnswer::Yes},
       .then = {{O::NoInstrument}, {question, {kUpgradeCaption, kNoInstrumentAfterAll}}, 5}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Connect(c.idn, c.version, c.kind, c.connected, c.personality);
    if (c.identifiedJustNow && c.connected) {
      ASSERT_TRUE(ConnectAndIdentify(ui_, link_, false));
    }
    state_.scriptState = c.script;
    std::optional<std::string> path;
    if (c.pathLength) {
      path = dir_.Prefix() + std::string(c.pathLength - dir_.Prefix().size() - 4, 'a') + ".upg";
    } else if (c.file) {
      path = Descriptor(c.descriptor, c.file);
    }
    device_->peer->written.clear();
    ui_.answers = c.answers;
    frontEnd_->accept = c.accept;
    const UpgradeResult result = Run(path, c.identifiedJustNow);
    EXPECT_EQ(result.outcome, c.then.result.outcome);
    EXPECT_EQ(result.reason, c.then.result.reason);
    EXPECT_EQ(Messages(), c.then.messages);
    const std::string& sent = device_->peer->written;
    EXPECT_EQ(testing::Occurrences(sent, "*IDN?"), c.then.idnSends);
    if (c.then.idnSends == 0) {
      EXPECT_EQ(sent, "");
    }
    EXPECT_EQ(sent.find(kBootWakeByte), std::string::npos);
    EXPECT_EQ(frontEnd_->listed, c.then.rows);
    EXPECT_EQ(frontEnd_->listBlocked, c.then.result.reason == R::ListBlocked);
    EXPECT_EQ(ui_.openDialogs.size(), c.script == kScriptStopped ? 1u : 0u);
    EXPECT_EQ(state_.scriptState, c.script);
    // The link says whether an identified instrument is on it.
    EXPECT_EQ(link_.info.connected, c.then.result.outcome != UpgradeOutcome::NoInstrument);
  }
}

// An accepted descriptor is written with polling off from the list on. The
// instrument restarts into its new firmware: the link is opened afresh,
// tried for as long as identification asks while a LAN instrument is still
// coming up, and the instrument identified with its new identity. One that
// stays away leaves the link disconnected, with a message that says the
// upgrade itself succeeded.
TEST_F(UpgradeCommandTest, AfterTheRestartTheLinkIsOpenedAgainAndTheInstrumentIdentified) {
  const std::string path = Descriptor("TARGET,VXM66\nLOAD,2,B.HEX");
  for (int refusedOpens : {0, 3, 100}) {
    SCOPED_TRACE(refusedOpens);
    Connect("Veltmark,VXM66,10472,2.15", "VXM66,150,1", InterfaceKind::Lan);
    // The link's opens are counted; the second and the `refusedOpens` after
    // it fail, as a LAN instrument still restarting refuses the connection.
    int opens = 0;
    link_.SetTransportFactory(testing::PeerFactory(
        [&opens, refusedOpens, peer = device_->peer](const ConnectionSettings&) {
          ++opens;
          return opens >= 2 && opens < 2 + refusedOpens ? nullptr : peer;
        }));
    link_.info.versionReply = "from before";
    const std::uint64_t start = clock_.TickMs();
    EXPECT_EQ(Run(path).outcome, UpgradeOutcome::Succeeded);
    EXPECT_FALSE(frontEnd_->pollingDuringList);
    EXPECT_EQ(frontEnd_->listed, "b.hex ");
    EXPECT_EQ(device_->instrument->GetFlash().At(2).erases, 1);
    ASSERT_EQ(ui_.openDialogs.size(), 1u);
    const FileDialogOptions& open = ui_.openDialogs[0];
    EXPECT_EQ(std::tie(open.title, open.filterName, open.filterPattern, open.moreFilters),
              std::tuple("Select Firmware Upgrade File", "Upgrade Descriptor", "*.up*",
                         decltype(open.moreFilters){{"Hex Firmware", "*.hex"}}));
    EXPECT_EQ(ui_.waitDepth, 0);
    const bool back = refusedOpens < kIdnAttempts;
    EXPECT_EQ(link_.info.connected, back);
    EXPECT_EQ(Messages(), (back ? Shown{} : Shown{{kUpgradeCaption, kUpgradedButNotBack}}));
    // The first identification, then the reopenings.
    EXPECT_EQ(opens, back ? 2 + refusedOpens : 1 + kIdnAttempts);
    if (back) {
      EXPECT_EQ(link_.info.versionReply, "VXM66,150,1");
    }
    // Within the time identification itself takes, whatever happens.
    EXPECT_LE(clock_.TickMs() - start, 20000u);
  }
}

}  // namespace
}  // namespace parlex2
