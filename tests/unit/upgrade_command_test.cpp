// The upgrade command from file choice to the worker, against the simulator's
// instrument in process: every refusal, the checks as tables, and the link
// left to the command alone.
#include "upgrade/upgrade_command.h"

#include <gtest/gtest.h>

#include "common/shell_state.h"
#include "connect/identify.h"
#include "support/fake_clock.h"
#include "support/recording_ui.h"
#include "support/upgrade_front_end.h"
#include "support/upgrade_support.h"

namespace parlex2 {
namespace {

using testing::FakeClock;
using testing::HexFile;
using testing::RecordingFrontEnd;
using testing::RecordingUi;
using testing::ScratchDir;
using testing::SimulatedInstrument;

class UpgradeCommandTest : public ::testing::Test {
 protected:
  void Connect(sim::InstrumentConfig config, InterfaceKind kind = InterfaceKind::Usb,
               bool connected = true) {
    device_ = std::make_unique<SimulatedInstrument>(std::move(config));
    device_->Attach(link_);
    link_.settings.interfaceKind = kind;
    link_.info.connected = connected;
    if (connected) link_.Open();
    state_.pollingEnabled = true;
  }
  static sim::InstrumentConfig Instrument(const char* idn, const char* version = "VXM66,150,1") {
    sim::InstrumentConfig config;
    config.idn = idn;
    config.version = version;
    return config;
  }

  std::string Descriptor(const std::string& text, const std::string& name = "set.upg") {
    for (const char* file : {"a.hex", "b.hex", "c.hex", "d.hex"})
      dir_.Write(file, HexFile(file[0], 1, 0));
    return dir_.Write(name, text);
  }

  UpgradeResult Run(const std::optional<std::string>& path, bool identifiedJustNow = false) {
    ui_.files.push_back(path);
    UpgradeCommandContext context{ui_,    frontEnd_,          link_,        state_,
                                  clock_, SystemFileFinder(), std::nullopt, identifiedJustNow};
    UpgradeResult result = RunUpgradeCommand(context);
    EXPECT_TRUE(state_.pollingEnabled) << "polling not restored";
    return result;
  }

  // Counts the link's opens in `opens`; the second and the `refused` after it
  // fail, as a LAN instrument still restarting refuses the connection.
  void RefusingOpens(int& opens, int refused) {
    auto peer = device_->peer;
    link_.SetTransportFactory(
        testing::PeerFactory([&opens, refused, peer](const ConnectionSettings&) {
          ++opens;
          return opens >= 2 && opens < 2 + refused ? nullptr : peer;
        }));
  }

  // How many times *IDN? went out since the instrument's bytes were cleared.
  std::size_t Identifications() const {
    const std::string& written = device_->peer->written;
    std::size_t n = 0;
    for (std::size_t at = written.find("*IDN?"); at != std::string::npos;
         at = written.find("*IDN?", at + 1)) {
      ++n;
    }
    return n;
  }
  // Whether the boot loader's wake byte went out.
  bool BootLoaderWoken() const { return device_->peer->written.find('\x19') != std::string::npos; }

  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const auto& m : ui_.messages) texts.push_back(m.text);
    return texts;
  }

  FakeClock clock_;
  InstrumentLink link_;
  ShellState state_;
  RecordingUi ui_;
  RecordingFrontEnd frontEnd_{link_, &state_};
  ScratchDir dir_;
  std::unique_ptr<SimulatedInstrument> device_;
};

TEST_F(UpgradeCommandTest, AcceptedDescriptorIsWrittenWithPollingOffThroughout) {
  Connect(Instrument("Veltmark,VXM66,10472,2.15"));
  const std::string path = Descriptor("TARGET,VXM66\nLOAD,0,a.hex\nLOAD,2,B.HEX\n");
  const UpgradeResult result = Run(path);
  EXPECT_EQ(result.outcome, UpgradeOutcome::Succeeded);
  EXPECT_TRUE(ui_.messages.empty()) << ui_.messages[0].text;
  EXPECT_FALSE(frontEnd_.pollingDuringList);
  EXPECT_FALSE(frontEnd_.listBlocked);
  ASSERT_EQ(frontEnd_.list.rows.size(), 2u);
  EXPECT_EQ(frontEnd_.list.rows[1].name, "b.hex");
  EXPECT_EQ(device_->instrument->GetFlash().At(2).erases, 1);
  EXPECT_EQ(ui_.openDialogs.size(), 1u);
  EXPECT_EQ(ui_.openDialogs[0].title, "Select Firmware Upgrade File");
  EXPECT_EQ(ui_.openDialogs[0].filterName, "Upgrade Descriptor");
  EXPECT_EQ(ui_.openDialogs[0].filterPattern, "*.up*");
  ASSERT_EQ(ui_.openDialogs[0].moreFilters.size(), 1u);
  EXPECT_EQ(ui_.openDialogs[0].moreFilters[0].second, "*.hex");
  EXPECT_EQ(ui_.waitDepth, 0);
  EXPECT_TRUE(link_.info.connected);
}

// Each verdict of the checks (upgrade_checks_test.cpp has their table) with
// its message, against instruments identified through the link.
TEST_F(UpgradeCommandTest, EachRefusalOfTheChecksHasItsMessage) {
  struct Case {
    const char* idn;
    const char* version;
    const char* descriptor;
    const char* message;  // "" when the list is reached
  };
  const Case cases[] = {
      {"Veltmark,VXM66,1,1", "V,150", "TARGET,VXM66\nLOAD,0,a.hex", ""},
      {"Veltmark,VXM66,1,1", "V,150", "TARGET,VXM26\nLOAD,0,a.hex",
       "The upgrade file is for a VXM26. You are connected to a VXM66\n\nPlease ensure the "
       "firmware file name and target instrument model match before continuing\n"},
      {"Veltmark,VXM66,1,1", "V,150", "LOAD,0,a.hex",
       "The upgrade file is for a Unknown Model. You are connected to a VXM66\n\nPlease ensure "
       "the firmware file name and target instrument model match before continuing\n"},
      {"Veltmark,VXM66,1,1", "V,150", "TARGET,VXM66,200,gteq,x\nLOAD,0,a.hex",
       "The connected instrument is incompatible with the selected firmware"},
      {"Veltmark,VXM66,1,1", "V,150", "TARGET,VXM66\nTARGET,VXM66,200\nLOAD,0,a.hex",
       "Error reading firmware, unable to determine firmware target"},
      {"Veltmark,VXM66,1,1", "V150", "TARGET,VXM66,200,lt,x\nLOAD,0,a.hex",
       "Error communicating with instrument, unable to determine instrument internal version"},
  };
  for (const Case& c : cases) {
    ui_.messages.clear();
    frontEnd_.lists = 0;
    frontEnd_.accept = false;
    Connect(Instrument(c.idn, c.version));
    const UpgradeResult result = Run(Descriptor(c.descriptor));
    if (*c.message) {
      ASSERT_EQ(ui_.messages.size(), 1u) << c.descriptor;
      EXPECT_EQ(ui_.messages[0].text, c.message) << c.descriptor;
      EXPECT_EQ(ui_.messages[0].caption, "Parlex2");
      EXPECT_EQ(frontEnd_.lists, 0) << c.descriptor;
    } else {
      EXPECT_TRUE(ui_.messages.empty()) << c.descriptor << ": " << ui_.messages[0].text;
      EXPECT_EQ(frontEnd_.lists, 1) << c.descriptor;
      EXPECT_EQ(result.reason, RefusalReason::ListDeclined);
    }
    EXPECT_EQ(result.outcome, UpgradeOutcome::Refused);
  }
}

TEST_F(UpgradeCommandTest, SelectedTableIsListedWithItsOwnEntryCount) {
  Connect(Instrument("Veltmark,VXM66,1,1", "V,250"));
  frontEnd_.accept = false;
  Run(
      Descriptor("TARGET,VXM66,200,gteq,x\nLOAD,0,a.hex\nLOAD,1,b.hex\nLOAD,2,c.hex\n"
                 "TARGET,VXM66,200,lt,x\nLOAD,3,d.hex\n"));
  ASSERT_EQ(frontEnd_.list.rows.size(), 3u);
  EXPECT_EQ(frontEnd_.list.rows[2].name, "c.hex");
  // The other way round: the second table with one entry, not three rows.
  Connect(Instrument("Veltmark,VXM66,1,1", "V,150"));
  Run(
      Descriptor("TARGET,VXM66,200,gteq,x\nLOAD,0,a.hex\nLOAD,1,b.hex\nLOAD,2,c.hex\n"
                 "TARGET,VXM66,200,lt,x\nLOAD,3,d.hex\n"));
  ASSERT_EQ(frontEnd_.list.rows.size(), 1u);
  EXPECT_EQ(frontEnd_.list.rows[0].name, "d.hex");
}

TEST_F(UpgradeCommandTest, RefusalsBeforeTheListSendNothingButIdentification) {
  // Extension routes: UPG read, upz not.
  Connect(Instrument("Veltmark,VXM66,1,1"));
  frontEnd_.accept = false;
  Run(Descriptor("TARGET,VXM66\nLOAD,0,a.hex", "SET.UPG"));
  EXPECT_EQ(frontEnd_.lists, 1);
  Run(Descriptor("TARGET,VXM66\nLOAD,0,a.hex", "set.upz"));
  EXPECT_EQ(Texts().back(), "No valid load lines found in the upgrade descriptor file");

  // Fifty entries end silently.
  std::string fifty = "TARGET,VXM66\n";
  for (int i = 0; i < 50; ++i) fifty += "LOAD,0,a.hex\n";
  ui_.messages.clear();
  EXPECT_EQ(Run(Descriptor(fifty)).reason, RefusalReason::TooManyEntries);
  EXPECT_TRUE(ui_.messages.empty());

  // The warning: Cancel ends the command before the list.
  ui_.answers = {MessageAnswer::Cancel};
  frontEnd_.lists = 0;
  EXPECT_EQ(Run(Descriptor("TARGET,VXM66\nWARNING,Read the notes first\nLOAD,0,a.hex")).reason,
            RefusalReason::WarningDeclined);
  EXPECT_EQ(ui_.messages.back().caption, "Firmware Warning");
  EXPECT_EQ(ui_.messages.back().text, "Read the notes first");
  EXPECT_EQ(frontEnd_.lists, 0);

  // A blocked list cannot be accepted, whatever the front end answers.
  frontEnd_.accept = true;
  EXPECT_EQ(Run(Descriptor("TARGET,VXM66\nLOAD,0,a.hex\nLOAD,1,gone.hex")).reason,
            RefusalReason::ListBlocked);
  EXPECT_TRUE(frontEnd_.listBlocked);
  EXPECT_EQ(frontEnd_.progressRuns, 0);

  // Main hex: a wrong name, then a name with missing companions.
  ui_.messages.clear();
  EXPECT_EQ(Run(dir_.Write("main.hex", HexFile(1, 1, 0))).reason, RefusalReason::NotMainHex);
  EXPECT_EQ(Texts().back(), "Please choose the main hex file for the Instrument to upgrade");
  // An ordinary instrument: the main-hex route has no target model.
  EXPECT_EQ(Run(dir_.Write("A1_V2.hex", HexFile(1, 1, 0))).reason, RefusalReason::ModelMismatch);
  EXPECT_FALSE(BootLoaderWoken());

  // The file dialog cancelled: nothing at all.
  device_->peer->written.clear();
  EXPECT_EQ(Run(std::nullopt).outcome, UpgradeOutcome::Cancelled);
  EXPECT_EQ(device_->peer->written, "");
}

TEST_F(UpgradeCommandTest, BootcodeInstrumentTakesMainHexWithoutChecks) {
  sim::InstrumentConfig config;
  config.personality = sim::Personality::kBootcode;
  Connect(config);
  dir_.Write("DSP_V2.HEX", HexFile(2, 1, 0));
  dir_.Write("FPG_V2.HEX", HexFile(3, 1, 0));
  const UpgradeResult result = Run(dir_.Write("A1_V2.HEX", HexFile(4, 1, 0)));
  EXPECT_EQ(result.outcome, UpgradeOutcome::Succeeded);
  EXPECT_EQ(frontEnd_.list.rows.size(), 3u);
  EXPECT_EQ(frontEnd_.list.target, "");
  const auto& flash = device_->instrument->GetFlash();
  EXPECT_EQ(flash.At(0).erases, 1);
  EXPECT_EQ(flash.At(1).erases, 1);
  EXPECT_EQ(flash.At(2).erases, 1);
}

TEST_F(UpgradeCommandTest, InstrumentDetectionAndTheQuestion) {
  const std::string path = Descriptor("TARGET,VXM66\nLOAD,0,a.hex");
  // Not connected, the user says No: nothing read, no list.
  Connect(Instrument("Veltmark,VXM66,1,1"), InterfaceKind::Usb, false);
  ui_.answers = {MessageAnswer::No};
  EXPECT_EQ(Run(path).outcome, UpgradeOutcome::NoInstrument);
  EXPECT_EQ(Texts(), std::vector<std::string>{kNoInstrumentQuestion});
  EXPECT_EQ(frontEnd_.lists, 0);

  // Yes, and an ordinary instrument answers: not detected, so the model
  // check names both models.
  Connect(Instrument("Veltmark,VXM66,1,1"), InterfaceKind::Usb, false);
  ui_.messages.clear();
  ui_.answers = {MessageAnswer::Yes};
  EXPECT_EQ(Run(path).reason, RefusalReason::ModelMismatch);
  ASSERT_EQ(ui_.messages.size(), 2u);
  EXPECT_EQ(ui_.messages[1].text.substr(0, 62),
            "The upgrade file is for a VXM66. You are connected to a VXM66\n");

  // Yes, and nobody answers: said plainly instead of "no load lines".
  sim::InstrumentConfig silent;
  silent.personality = sim::Personality::kSilent;
  Connect(silent, InterfaceKind::Usb, false);
  ui_.messages.clear();
  ui_.answers = {MessageAnswer::Yes};
  EXPECT_EQ(Run(path).outcome, UpgradeOutcome::NoInstrument);
  EXPECT_EQ(Texts(), (std::vector<std::string>{kNoInstrumentQuestion, kNoInstrumentAfterAll}));

  // A serial-only model over the LAN: refused after its identification.
  Connect(Instrument("Veltmark,ZQM7133,1,1"), InterfaceKind::Lan);
  ui_.messages.clear();
  device_->peer->written.clear();
  EXPECT_EQ(Run(path).reason, RefusalReason::LanSerialOnly);
  EXPECT_EQ(Texts(),
            std::vector<std::string>{
                "ZQM7133 and ZQMM7186 instruments can only upgrade firmware using a serial "
                "connection"});
  EXPECT_EQ(Identifications(), 1u);
  EXPECT_TRUE(link_.info.connected);
}

// One identification for each need: making sure of the instrument (unless the
// caller has just identified it), once more only after the user chose to go
// on without one, and none at all after a No.
TEST_F(UpgradeCommandTest, InstrumentIsIdentifiedOncePerNeedAndNeverAfterNo) {
  const std::string path = Descriptor("TARGET,VXM66\nLOAD,0,a.hex");
  frontEnd_.accept = false;
  struct Case {
    const char* what;
    bool connected;
    bool identifiedJustNow;
    sim::Personality personality;
    MessageAnswer answer;  // to the no-instrument question, when asked
    std::size_t idnSends;  // *IDN? sent: a failed identification asks five times
    bool listShown;
  };
  const Case cases[] = {
      {"connected", true, false, sim::Personality::kNormal, MessageAnswer::Yes, 1, true},
      {"just identified", true, true, sim::Personality::kNormal, MessageAnswer::Yes, 0, true},
      {"silent, No", true, false, sim::Personality::kSilent, MessageAnswer::No, 5, false},
      {"not connected, No", false, false, sim::Personality::kNormal, MessageAnswer::No, 0, false},
      {"just failed, No", false, true, sim::Personality::kNormal, MessageAnswer::No, 0, false},
      // Identified only after the question: it counts as not detected, so an
      // ordinary model fails the model check.
      {"not connected, Yes", false, false, sim::Personality::kNormal, MessageAnswer::Yes, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::InstrumentConfig config = Instrument("Veltmark,VXM66,1,1");
    config.personality = c.personality;
    Connect(config, InterfaceKind::Usb, c.connected);
    if (c.identifiedJustNow && c.connected) {
      ASSERT_TRUE(ConnectAndIdentify(ui_, link_, false));
    }
    device_->peer->written.clear();
    ui_.messages.clear();
    ui_.answers = {c.answer};
    frontEnd_.lists = 0;
    Run(path, c.identifiedJustNow);
    EXPECT_EQ(Identifications(), c.idnSends);
    EXPECT_EQ(frontEnd_.lists, c.listShown ? 1 : 0);
    if (c.answer == MessageAnswer::No) {
      EXPECT_EQ(Texts(), std::vector<std::string>{kNoInstrumentQuestion});
      EXPECT_FALSE(link_.info.connected);
    }
  }
}

TEST_F(UpgradeCommandTest, UpgradeThatWouldWriteNothingIsRefusedBeforeTheBootLoader) {
  // Serial 150: both entries are for other serial numbers.
  Connect(Instrument("Veltmark,VXM66,150,2.15"));
  device_->peer->written.clear();
  const UpgradeResult result =
      Run(Descriptor("TARGET,VXM66\nSERIAL,2,300,0\nLOAD,0,a.hex\nOVER,1,b.hex\n"));
  EXPECT_EQ(result.outcome, UpgradeOutcome::Refused);
  EXPECT_EQ(result.reason, RefusalReason::NothingToWrite);
  ASSERT_EQ(Texts(), std::vector<std::string>{kNothingToWrite});
  EXPECT_EQ(ui_.messages[0].caption, kUpgradeCaption);
  EXPECT_EQ(frontEnd_.lists, 0);
  EXPECT_EQ(frontEnd_.progressRuns, 0);
  EXPECT_FALSE(BootLoaderWoken());
}

// A chosen path longer than the command reads is refused as a file that
// cannot be read, before anything is sent; one of the longest length read
// goes on.
TEST_F(UpgradeCommandTest, PathTooLongIsRefusedNotCut) {
  Connect(Instrument("Veltmark,VXM66,1,1"));
  for (std::size_t length : {256u, 259u, 300u}) {
    device_->peer->written.clear();
    ui_.messages.clear();
    EXPECT_EQ(Run(dir_.Prefix() + std::string(length, 'a')).reason, RefusalReason::PathTooLong);
    EXPECT_EQ(Texts(), std::vector<std::string>{kNoLoadLines});
    EXPECT_EQ(device_->peer->written, "") << length;
  }
  const std::string longest = dir_.Prefix() + std::string(255 - dir_.Prefix().size() - 4, 'a');
  device_->peer->written.clear();
  EXPECT_EQ(Run(longest + ".upg").reason, RefusalReason::NoLoadLines);
  EXPECT_EQ(Identifications(), 1u);
}

TEST_F(UpgradeCommandTest, ScriptRunningOrSteppingRefusesTheCommand) {
  Connect(Instrument("Veltmark,VXM66,1,1"));
  const std::string path = Descriptor("TARGET,VXM66\nLOAD,0,a.hex");
  for (int scriptState : {kScriptRunning, kScriptStep}) {
    state_.scriptState = scriptState;
    device_->peer->written.clear();
    ui_.messages.clear();
    EXPECT_EQ(Run(path).reason, RefusalReason::ScriptRunning);
    EXPECT_EQ(Texts(), std::vector<std::string>{kScriptRunningMessage});
    EXPECT_EQ(device_->peer->written, "");
    EXPECT_TRUE(ui_.openDialogs.empty());
    EXPECT_EQ(state_.scriptState, scriptState);
  }
  // A stopped script does not stand in the way.
  state_.scriptState = kScriptStopped;
  frontEnd_.accept = false;
  Run(path);
  EXPECT_EQ(frontEnd_.lists, 1);
}

// The instrument restarts into its new firmware: the link is opened afresh,
// tried for as long as identification asks while a LAN instrument is still
// coming up, and the instrument identified with its new identity. One that
// stays away leaves the link disconnected, with a message that says the
// upgrade itself succeeded.
TEST_F(UpgradeCommandTest, AfterTheRestartTheLinkIsOpenedAgainAndTheInstrumentIdentified) {
  const std::string path = Descriptor("TARGET,VXM66\nLOAD,0,a.hex");
  for (int refusedOpens : {0, 3, 100}) {
    SCOPED_TRACE(refusedOpens);
    Connect(Instrument("Veltmark,VXM66,10472,2.15"), InterfaceKind::Lan);
    int opens = 0;
    RefusingOpens(opens, refusedOpens);
    link_.info.versionReply = "from before";
    ui_.messages.clear();
    const std::uint64_t start = clock_.TickMs();
    EXPECT_EQ(Run(path).outcome, UpgradeOutcome::Succeeded);
    const bool back = refusedOpens < kIdnAttempts;
    EXPECT_EQ(link_.info.connected, back);
    if (back) {
      EXPECT_TRUE(ui_.messages.empty());
      EXPECT_EQ(opens, 2 + refusedOpens);  // the first identification, the reopenings
      EXPECT_EQ(link_.info.versionReply, "VXM66,150,1");
    } else {
      EXPECT_EQ(Texts(), std::vector<std::string>{kUpgradedButNotBack});
      EXPECT_EQ(opens, 1 + kIdnAttempts);
    }
    // Within the time identification itself takes, whatever happens.
    EXPECT_LE(clock_.TickMs() - start, 20000u);
  }
}

}  // namespace
}  // namespace parlex2
