#include "connect/connection_form.h"

#include <gtest/gtest.h>

#include "connect/lan_search.h"
#include "link/lan.h"
#include "support/fake_clock.h"
#include "support/memory_transport.h"
#include "support/recording_ui.h"

namespace parlex2 {
namespace {

using testing::MemoryPeer;

TEST(ConnectionForm, UsbAlwaysRunsAt19200AndBlankAddressIsEmpty) {
  ConnectionSettings settings;
  settings.baudRate = 1200;
  ConnectionForm form;
  form.interfaceIndex = 0;
  form.comPort = "COM3";
  form.baudText = "38400";
  form.ipText = "0.0.0.0";
  ReadDialogIntoLink(form, settings);
  EXPECT_EQ(settings.interfaceKind, InterfaceKind::Usb);
  EXPECT_EQ(settings.comPort, "COM3");
  EXPECT_EQ(settings.baudRate, 19200u);
  EXPECT_EQ(settings.ipAddress, "");

  form.interfaceIndex = 2;
  ReadDialogIntoLink(form, settings);
  EXPECT_EQ(settings.baudRate, 38400u);
}

TEST(ConnectionForm, UnselectedListsKeepTheLinkValues) {
  ConnectionSettings settings;
  settings.interfaceKind = InterfaceKind::Serial;
  settings.comPort = "COM9";
  settings.baudRate = 4800;
  ConnectionForm form;
  form.ipText = "10.1.2.3";
  ReadDialogIntoLink(form, settings);
  EXPECT_EQ(settings.interfaceKind, InterfaceKind::Serial);
  EXPECT_EQ(settings.comPort, "COM9");
  EXPECT_EQ(settings.baudRate, 4800u);
  EXPECT_EQ(settings.ipAddress, "10.1.2.3");
  form.ipText = std::string(200, '9');
  ReadDialogIntoLink(form, settings);
  EXPECT_EQ(settings.ipAddress, std::string(15, '9'));
}

TEST(ConnectionForm, ValidationMessages) {
  testing::RecordingUi ui;
  ConnectionSettings settings;
  EXPECT_TRUE(ValidateLink(ui, settings));  // None passes
  settings.interfaceKind = InterfaceKind::Lan;
  EXPECT_FALSE(ValidateLink(ui, settings));
  settings.ipAddress = "10.0.0.1";
  EXPECT_TRUE(ValidateLink(ui, settings));
  settings.interfaceKind = InterfaceKind::Serial;
  EXPECT_FALSE(ValidateLink(ui, settings));
  settings.comPort = "COM1";
  EXPECT_FALSE(ValidateLink(ui, settings));
  settings.baudRate = 9600;
  EXPECT_TRUE(ValidateLink(ui, settings));
  ASSERT_EQ(ui.messages.size(), 3u);
  EXPECT_EQ(ui.messages[0].text, "Please enter an IP address");
  EXPECT_EQ(ui.messages[1].text, "Please select a COM Port");
  EXPECT_EQ(ui.messages[2].text, "Please choose a baudrate");
  for (const auto& m : ui.messages) EXPECT_EQ(m.caption, "Test Connection");

  // Connect stops at the same check and forgets the instrument it knew.
  InstrumentLink link;
  link.info.connected = true;
  link.info.modelNumber = 7;
  ConnectionForm form;
  form.interfaceIndex = 1;
  form.ipText = "0.0.0.0";
  EXPECT_FALSE(ConnectFromForm(ui, form, link));
  EXPECT_FALSE(link.info.connected);
  EXPECT_EQ(link.info.modelNumber, 0);
  EXPECT_EQ(ui.messages.at(3).text, "Please enter an IP address");
}

TEST(ConnectionForm, LayoutAndInitialSelections) {
  const auto lan = LayoutForInterface(1);
  EXPECT_TRUE(lan.showIpAddress);
  EXPECT_FALSE(lan.showComPort || lan.showBaudRate);
  EXPECT_STREQ(lan.portLabel, "IP Address:");
  const auto usb = LayoutForInterface(0);
  EXPECT_TRUE(usb.showComPort && usb.showBaudRate && !usb.enableBaudRate && !usb.showIpAddress);
  EXPECT_STREQ(usb.portLabel, "COM Port:");
  EXPECT_TRUE(LayoutForInterface(2).enableBaudRate);

  ConnectionSettings settings;
  settings.interfaceKind = InterfaceKind::Serial;
  settings.comPort = "COM7";
  settings.baudRate = 38400;
  auto form = FormFromSettings(settings, {"COM1", "COM7"});
  EXPECT_EQ(form.interfaceIndex, 2);
  EXPECT_EQ(form.comPort, "COM7");
  EXPECT_EQ(form.baudText, "38400");
  EXPECT_EQ(form.ipText, "0.0.0.0");
  settings.comPort = "COM2";
  settings.baudRate = 57600;
  settings.interfaceKind = InterfaceKind::None;
  form = FormFromSettings(settings, {"COM1", "COM7"});
  EXPECT_EQ(form.interfaceIndex, -1);
  EXPECT_FALSE(form.comPort);
  EXPECT_FALSE(form.baudText);
}

class RecordingDefaults : public ConnectionDefaults {
 public:
  bool Load(ConnectionSettings& settings) override {
    if (!saved) return false;
    settings = *saved;
    return true;
  }
  bool Save(const ConnectionSettings& settings) override {
    if (!writable) return false;
    saved = settings;
    return true;
  }
  std::optional<ConnectionSettings> saved;
  bool writable = true;
};

TEST(ConnectionForm, AddressControlFieldsRoundTripAndBadTextLeavesItBlank) {
  const auto fields = ParseIpAddress("10.0.255.7");
  ASSERT_TRUE(fields);
  EXPECT_EQ(IpAddressText(*fields), "10.0.255.7");
  EXPECT_EQ(IpAddressText(IpAddressFields{}), "0.0.0.0");
  // A blank control read back is stored as no address at all.
  ConnectionSettings settings;
  settings.ipAddress = "10.0.0.1";
  ConnectionForm form;
  form.ipText = IpAddressText(IpAddressFields{});
  ReadDialogIntoLink(form, settings);
  EXPECT_EQ(settings.ipAddress, "");

  for (const char* bad : {"", "10.0.0", "10.0.0.256", "10.0.0.1.", "10..0.1", "a.b.c.d",
                          "10.0.0.1x", " 10.0.0.1", "0010.0.0.1", "10.0.0.-1", "1.2.3.4.5"}) {
    EXPECT_FALSE(ParseIpAddress(bad)) << bad;
  }
}

TEST(ConnectionForm, TestLeavesSettingsInTheLinkAndClosesConnectKeepsItOpen) {
  testing::FakeClock clock;
  testing::RecordingUi ui;
  auto peer = std::make_shared<MemoryPeer>();
  peer->respond = testing::Answers({{"*IDN?\n", "M,VXM26,5,1\n"}});
  InstrumentLink link;
  testing::UseMemoryPeer(link, peer);
  ConnectionForm form;
  form.interfaceIndex = 0;
  form.comPort = "COM5";
  TestConnection(ui, form, link);
  EXPECT_FALSE(link.portOpen());
  EXPECT_EQ(link.settings.comPort, "COM5");
  EXPECT_EQ(ui.messages.at(0).text, "The connection was successful\nM,VXM26,5,1");

  link.info.modelVariant = 2;
  EXPECT_TRUE(ConnectFromForm(ui, form, link));
  EXPECT_TRUE(link.portOpen());
  EXPECT_TRUE(link.info.connected);
  EXPECT_EQ(link.info.modelNumber, 4);
  EXPECT_EQ(link.info.modelVariant, 0);

  RecordingDefaults defaults;
  form.interfaceIndex = 1;
  form.ipText = "10.0.0.7";
  const std::size_t messages = ui.messages.size();
  EXPECT_TRUE(SaveAsDefault(ui, form, link, defaults));
  ASSERT_TRUE(defaults.saved);
  EXPECT_EQ(defaults.saved->interfaceKind, InterfaceKind::Lan);
  EXPECT_EQ(defaults.saved->ipAddress, "10.0.0.7");
  EXPECT_EQ(defaults.saved->comPort, "COM5");
  EXPECT_EQ(ui.messages.size(), messages);
  // A settings file that cannot be written is said, not passed over.
  defaults.writable = false;
  EXPECT_FALSE(SaveAsDefault(ui, form, link, defaults));
  ASSERT_EQ(ui.messages.size(), messages + 1);
  EXPECT_EQ(ui.messages.back().text, kSaveDefaultFailed);
  EXPECT_EQ(ui.messages.back().caption, "Parlex2");
}

TEST(ConnectionForm, LinkLeftOpenByAFailureIsReusedOnlyForTheSamePlace) {
  testing::FakeClock clock;
  testing::RecordingUi ui;
  auto silent = std::make_shared<MemoryPeer>();
  auto answering = std::make_shared<MemoryPeer>();
  answering->respond = testing::Answers({{"*IDN?\n", "M,VXM26,5,1\n"}});
  std::vector<ConnectionSettings> opened;
  InstrumentLink link;
  link.SetTransportFactory(testing::PeerFactory([&](const ConnectionSettings& settings) {
    opened.push_back(settings);
    return settings.interfaceKind == InterfaceKind::Lan ? answering : silent;
  }));
  ConnectionForm form;
  form.interfaceIndex = 2;
  form.comPort = "COM5";
  form.baudText = "9600";
  EXPECT_FALSE(ConnectFromForm(ui, form, link));
  EXPECT_TRUE(link.portOpen());
  // The same place again: the open port is used as it is.
  EXPECT_FALSE(ConnectFromForm(ui, form, link));
  EXPECT_EQ(opened.size(), 1u);
  // Another rate is another place.
  form.baudText = "38400";
  EXPECT_FALSE(ConnectFromForm(ui, form, link));
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened[1].baudRate, 38400u);

  // The user turns to the LAN: Test and Connect ask the instrument there.
  form.interfaceIndex = 1;
  form.ipText = "10.0.0.9";
  TestConnection(ui, form, link);
  ASSERT_EQ(opened.size(), 3u);
  EXPECT_EQ(opened[2].ipAddress, "10.0.0.9");
  EXPECT_EQ(ui.messages.back().text, "The connection was successful\nM,VXM26,5,1");
  EXPECT_FALSE(link.portOpen());
  EXPECT_TRUE(ConnectFromForm(ui, form, link));
  ASSERT_EQ(opened.size(), 4u);
  EXPECT_EQ(opened[3].interfaceKind, InterfaceKind::Lan);
  EXPECT_EQ(opened[3].ipAddress, "10.0.0.9");
  EXPECT_EQ(link.info.idnReply, "M,VXM26,5,1");
  EXPECT_TRUE(link.OpenTo(link.settings));
}

TEST(LanProbe, RowsForEachOutcomeWithTheProbesOwnTimeout) {
  testing::FakeClock clock;
  testing::RecordingUi ui;
  std::vector<FoundInstrument> found = {
      {"10.0.0.1", ""}, {"10.0.0.2", ""}, {"10.0.0.3", ""}, {"10.0.0.4", ""}, {"10.0.0.5", ""}};
  std::vector<std::shared_ptr<MemoryPeer>> opened;
  auto factory = testing::PeerFactory([&](const ConnectionSettings& s) {
    std::shared_ptr<MemoryPeer> peer;
    if (s.ipAddress == "10.0.0.1") return peer;
    peer = std::make_shared<MemoryPeer>();
    opened.push_back(peer);
    std::string reply;
    if (s.ipAddress == "10.0.0.3") reply = "NOCOMMA\n";
    if (s.ipAddress == "10.0.0.4") reply = "Maker,VXM66," + std::string(300, 'z') + "\n";
    if (s.ipAddress == "10.0.0.5") reply = std::string("\0,x\n", 4);
    peer->respond = [reply](MemoryPeer& p, const std::string& command) {
      if (command.starts_with("*IDN?\n")) p.Queue(reply);
    };
    return peer;
  });
  // The window's own link keeps its time-out whatever the probe sets.
  InstrumentLink main;
  main.settings.interfaceKind = InterfaceKind::Lan;
  auto mainPeer = std::make_shared<MemoryPeer>();
  testing::UseMemoryPeer(main, mainPeer);
  const auto result = ProbeFoundInstruments(ui, found, factory);
  ASSERT_EQ(main.Open(), 0);
  EXPECT_EQ(mainPeer->readTimeout, 5000u);
  ASSERT_EQ(result.rows.size(), 4u);
  EXPECT_EQ(result.rows[0].text, "10.0.0.1\tConnection Failed 1");
  EXPECT_EQ(result.rows[1].text, "10.0.0.2\tConnection Failed 2");
  EXPECT_EQ(result.rows[2].text, "10.0.0.3\tConnection Failed 3");
  const std::string reply = "Maker,VXM66," + std::string(115, 'z');  // 127 of the 128-byte buffer
  EXPECT_EQ(result.rows[3].text, "10.0.0.4\t" + reply);
  EXPECT_EQ(result.rows[3].entryIndex, 3u);
  EXPECT_EQ(found[3].description, reply);
  EXPECT_EQ(found[2].description, "");
  EXPECT_FALSE(result.selectFirst);
  ASSERT_EQ(opened.size(), 4u);
  for (const auto& peer : opened) EXPECT_EQ(peer->readTimeout, 500u);
  EXPECT_EQ(ui.waitDepth, 0);
}

TEST(LanSearch, NoneFoundIsReportedOneFoundIsPreselected) {
  testing::RecordingUi ui;
  bool asked = false;
  auto none = [](std::vector<FoundInstrument>& list) {
    list.clear();
    return 0;
  };
  auto chooser = [&](std::vector<FoundInstrument>&) -> std::optional<std::size_t> {
    asked = true;
    return 0;
  };
  EXPECT_FALSE(SearchLan(ui, chooser, none));
  EXPECT_FALSE(asked);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "No Instruments found on this subnet");
  EXPECT_EQ(ui.messages[0].caption, "LAN Find Instrument");

  auto two = [](std::vector<FoundInstrument>& list) {
    list = {{"10.0.0.8", ""}, {"10.0.0.9", ""}};
    return 2;
  };
  auto pickSecond = [](std::vector<FoundInstrument>&) -> std::optional<std::size_t> { return 1; };
  EXPECT_EQ(SearchLan(ui, pickSecond, two), "10.0.0.9");
  auto outOfRange = [](std::vector<FoundInstrument>&) -> std::optional<std::size_t> { return 7; };
  EXPECT_FALSE(SearchLan(ui, outOfRange, two));
  EXPECT_EQ(ui.waitDepth, 0);

  testing::FakeClock clock;
  std::vector<FoundInstrument> one = {{"10.0.0.4", ""}};
  auto answers = testing::PeerFactory([](const ConnectionSettings&) {
    auto peer = std::make_shared<MemoryPeer>();
    peer->respond = testing::Answers({{"*IDN?\n", "M,X,1\n"}});
    return peer;
  });
  EXPECT_TRUE(ProbeFoundInstruments(ui, one, answers).selectFirst);
}

}  // namespace
}  // namespace parlex2
