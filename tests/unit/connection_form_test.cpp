#include "connect/connection_form.h"

#include <gtest/gtest.h>

#include <map>
#include <tuple>

#include "connect/lan_search.h"
#include "link/lan.h"
#include "support/fake_clock.h"
#include "support/memory_transport.h"
#include "support/recording_ui.h"

namespace parlex2 {
namespace {

using testing::MemoryPeer;

auto Fields(const ConnectionSettings& s) {
  return std::tie(s.interfaceKind, s.comPort, s.ipAddress, s.baudRate);
}

// What the controls hold goes into the link's settings: USB always at 19200,
// an unselected list keeps the link's value, a blank address control is no
// address, a long text is cut to an address's 15 characters.
TEST(ConnectionForm, ControlsGoIntoTheSettingsAndSavedSettingsIntoTheControls) {
  // The address control's fields and text, both ways; bad text is refused.
  const auto fields = ParseIpAddress("10.0.255.7");
  ASSERT_TRUE(fields);
  EXPECT_EQ(IpAddressText(*fields), "10.0.255.7");
  for (const char* bad : {"", "10.0.0", "10.0.0.256", "10.0.0.1.", "10..0.1", "a.b.c.d",
                          "10.0.0.1x", " 10.0.0.1", "0010.0.0.1", "10.0.0.-1", "1.2.3.4.5"}) {
    EXPECT_FALSE(ParseIpAddress(bad)) << bad;
  }
  const std::string blank = IpAddressText(IpAddressFields{});
  EXPECT_EQ(blank, "0.0.0.0");
  struct Case {
    ConnectionForm form;
    ConnectionSettings expected;
  };
  const Case cases[] = {
      {{0, "COM3", "38400", blank}, {InterfaceKind::Usb, "COM3", "", 19200}},
      {{2, "COM3", "38400", blank}, {InterfaceKind::Serial, "COM3", "", 38400}},
      {{-1, std::nullopt, std::nullopt, "10.1.2.3"},
       {InterfaceKind::Serial, "COM9", "10.1.2.3", 4800}},
      {{-1, std::nullopt, std::nullopt, std::string(200, '9')},
       {InterfaceKind::Serial, "COM9", std::string(15, '9'), 4800}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.form.ipText);
    ConnectionSettings settings{InterfaceKind::Serial, "COM9", "10.0.0.1", 4800};
    ReadDialogIntoLink(c.form, settings);
    EXPECT_EQ(Fields(settings), Fields(c.expected));
  }

  // The other way: a saved port or rate the lists do not hold stays
  // unselected; the saved choices the lists hold are checked on the real
  // dialog.
  const ConnectionSettings settings{InterfaceKind::None, "COM2", "", 57600};
  const ConnectionForm form = FormFromSettings(settings, {"COM1", "COM7"});
  EXPECT_EQ(form.interfaceIndex, -1);
  EXPECT_FALSE(form.comPort);
  EXPECT_FALSE(form.baudText);
}

TEST(ConnectionForm, ValidationMessages) {
  struct Case {
    ConnectionSettings settings;
    const char* message;  // none: valid
  };
  const Case cases[] = {
      {{InterfaceKind::None, "", "", 0}, nullptr},
      {{InterfaceKind::Lan, "", "", 0}, "Please enter an IP address"},
      {{InterfaceKind::Lan, "", "10.0.0.1", 0}, nullptr},
      {{InterfaceKind::Serial, "", "", 0}, "Please select a COM Port"},
      {{InterfaceKind::Serial, "COM1", "", 0}, "Please choose a baudrate"},
      {{InterfaceKind::Serial, "COM1", "", 9600}, nullptr},
  };
  for (const Case& c : cases) {
    testing::RecordingUi ui;
    EXPECT_EQ(ValidateLink(ui, c.settings), c.message == nullptr);
    ASSERT_EQ(ui.messages.size(), c.message ? 1u : 0u);
    if (c.message) {
      EXPECT_EQ(ui.messages[0].text, c.message);
      EXPECT_EQ(ui.messages[0].caption, "Test Connection");
    }
  }

  // Connect stops at the same check and forgets the instrument it knew.
  testing::RecordingUi ui;
  InstrumentLink link;
  link.info.connected = true;
  link.info.modelNumber = 7;
  EXPECT_FALSE(ConnectFromForm(ui, {1, std::nullopt, std::nullopt, "0.0.0.0"}, link));
  EXPECT_FALSE(link.info.connected);
  EXPECT_EQ(link.info.modelNumber, 0);
  EXPECT_EQ(ui.messages.at(0).text, "Please enter an IP address");
}

// Test leaves the settings in the link and closes it; Connect keeps it open
// and forgets the model variant, and reuses a link a failure left open; a
// settings file that cannot be written is said, not passed over.
TEST(ConnectionForm, TestClosesConnectKeepsOpenAndAFailedSaveIsSaid) {
  testing::FakeClock clock;
  testing::RecordingUi ui;
  auto peer = std::make_shared<MemoryPeer>();
  peer->respond = testing::Answers({{"*IDN?\n", "M,VXM26,5,1\n"}});
  InstrumentLink link;
  testing::UseMemoryPeer(link, peer);
  const ConnectionForm form{0, "COM5", std::nullopt, ""};
  TestConnection(ui, form, link);
  EXPECT_FALSE(link.portOpen());
  EXPECT_EQ(link.settings.comPort, "COM5");

  link.info.modelVariant = 2;
  EXPECT_TRUE(ConnectFromForm(ui, form, link));
  EXPECT_TRUE(link.portOpen());
  EXPECT_TRUE(link.info.connected);
  EXPECT_EQ(link.info.modelNumber, 4);
  EXPECT_EQ(link.info.modelVariant, 0);

  struct Unwritable : ConnectionDefaults {
    bool Load(ConnectionSettings&) override { return false; }
    bool Save(const ConnectionSettings&) override { return false; }
  } defaults;
  EXPECT_FALSE(SaveAsDefault(ui, form, link, defaults));
  ASSERT_EQ(ui.messages.size(), 3u);  // Test's, Connect's and the failed save's
  EXPECT_EQ(ui.messages.back().text, kSaveDefaultFailed);
  EXPECT_EQ(ui.messages.back().caption, "Parlex2");

  // A link a failed connect left open is used as it is for the same place; a
  // rate of its own is another place, opened anew.
  std::vector<ConnectionSettings> opened;
  InstrumentLink other;
  other.SetTransportFactory(testing::PeerFactory([&](const ConnectionSettings& settings) {
    opened.push_back(settings);
    return std::make_shared<MemoryPeer>();  // silent
  }));
  ConnectionForm serial{2, "COM5", "9600", ""};
  EXPECT_FALSE(ConnectFromForm(ui, serial, other));
  EXPECT_TRUE(other.portOpen());
  EXPECT_FALSE(ConnectFromForm(ui, serial, other));
  EXPECT_EQ(opened.size(), 1u);
  serial.baudText = "38400";
  EXPECT_FALSE(ConnectFromForm(ui, serial, other));
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened[1].baudRate, 38400u);
}

TEST(LanProbe, RowsForEachOutcomeWithTheProbesOwnTimeout) {
  testing::FakeClock clock;
  testing::RecordingUi ui;
  // What each address replies; nothing can be opened at 10.0.0.1.
  const std::map<std::string, std::string> replies = {
      {"10.0.0.2", ""},
      {"10.0.0.3", "NOCOMMA\n"},
      {"10.0.0.4", "Maker,VXM66," + std::string(300, 'z') + "\n"},
      {"10.0.0.5", std::string("\0,x\n", 4)}};
  std::vector<FoundInstrument> found = {{"10.0.0.1", ""}};
  for (const auto& [address, reply] : replies) found.push_back({address, ""});
  std::vector<std::shared_ptr<MemoryPeer>> opened;
  auto factory = testing::PeerFactory([&](const ConnectionSettings& s) {
    if (!replies.contains(s.ipAddress)) return std::shared_ptr<MemoryPeer>();
    opened.push_back(std::make_shared<MemoryPeer>());
    opened.back()->respond = testing::Answers({{"*IDN?\n", replies.at(s.ipAddress)}});
    return opened.back();
  });
  // The window's own link keeps its time-out whatever the probe sets.
  InstrumentLink main;
  main.settings.interfaceKind = InterfaceKind::Lan;
  auto mainPeer = std::make_shared<MemoryPeer>();
  testing::UseMemoryPeer(main, mainPeer);
  const auto result = ProbeFoundInstruments(ui, found, factory);
  ASSERT_EQ(main.Open(), 0);
  EXPECT_EQ(mainPeer->readTimeout, 5000u);
  std::vector<std::string> rows;
  for (const ProbeRow& row : result.rows) rows.push_back(row.text);
  EXPECT_EQ(rows, (std::vector<std::string>{
                      "10.0.0.1\tConnection Failed 1", "10.0.0.2\tConnection Failed 2",
                      "10.0.0.3\tConnection Failed 3",
                      "10.0.0.4\tMaker,VXM66," + std::string(115, 'z')}));  // 127 characters
  ASSERT_EQ(opened.size(), 4u);
  for (const auto& peer : opened) EXPECT_EQ(peer->readTimeout, 500u);
}

// The chosen row's address goes to the address control; a choice outside the
// list is none.
TEST(LanSearch, TheChoiceIsTheAddress) {
  testing::RecordingUi ui;
  auto two = [](std::vector<FoundInstrument>& list) {
    list = {{"10.0.0.8", ""}, {"10.0.0.9", ""}};
    return 2;
  };
  auto pickSecond = [](std::vector<FoundInstrument>&) -> std::optional<std::size_t> { return 1; };
  EXPECT_EQ(SearchLan(ui, pickSecond, two), "10.0.0.9");
  auto outOfRange = [](std::vector<FoundInstrument>&) -> std::optional<std::size_t> { return 7; };
  EXPECT_FALSE(SearchLan(ui, outOfRange, two));
  EXPECT_EQ(ui.waitDepth, 0);
  EXPECT_TRUE(ui.messages.empty());
}

}  // namespace
}  // namespace parlex2
