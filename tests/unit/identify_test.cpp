#include "connect/identify.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <tuple>

#include "connect/model_table.h"
#include "link/instrument_link.h"
#include "support/comms_log_file.h"
#include "support/fake_clock.h"
#include "support/memory_transport.h"
#include "support/recording_ui.h"
#include "support/temp_folder.h"

namespace parlex2 {
namespace {

using testing::MemoryPeer;

class IdentifyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    link.settings.interfaceKind = InterfaceKind::Usb;
    link.settings.comPort = "COM3";
    testing::UseMemoryPeer(link, peer);
  }

  testing::TempFolder folder{"parlex2-identify"};
  std::string logPath = folder.File("comms.log");
  testing::CommsLogFile log{logPath};
  testing::FakeClock clock;
  testing::RecordingUi ui;
  std::shared_ptr<MemoryPeer> peer = std::make_shared<MemoryPeer>();
  InstrumentLink link;
};

const std::string kWake = "\x14\x14^[";
const std::string kIdentityQueries = "*IDN?\ncalstr?\ncalver?\nversion?\n";

// Everything identification fills, to compare whole.
auto Identity(const InstrumentInfo& i) {
  return std::tie(i.modelNumber, i.familyVariant, i.modelVariant, i.idnReply, i.calstrReply,
                  i.calverReply, i.versionReply);
}

// Each answer replaces all an earlier instrument left: the result message,
// the window title and the upgrade's version check must not take the earlier
// reply for this one's. A reply naming no known model, or without a comma and
// no bootcode signature, is an unknown instrument; only the first is logged
// as an instrument. Replies too long for their fields are cut.
TEST_F(IdentifyTest, EachAnswerIsIdentifiedAndNothingOfTheEarlierInstrumentIsKept) {
  const std::string longIdn = "M,VXM66," + std::string(400, 'x');
  const struct {
    const char* name;
    std::map<std::string, std::string> answers;
    std::string asked;  // after the wake bytes
    InstrumentInfo info;
    std::string shown;   // after "The connection was successful\n"
    std::string logged;  // "" when the log names no instrument
  } cases[] = {
      {"known model",
       {{"*IDN?\n", "Maker,ZQM44,12345,2.1\r\n"},
        {"calstr?\n", "12_MAR_2023,x\n"},
        {"calver?\n", "01_APR_2024\n"},
        {"version?\n", "v,T1,5.2,3.1,2.0,1.1\n"}},
       kIdentityQueries,
       {7, 0, 0, "Maker,ZQM44,12345,2.1", "12_MAR_2023,x", "01_APR_2024", "v,T1,5.2,3.1,2.0,1.1"},
       "Maker,ZQM44,12345,2.1",
       "***\tIDENTIFIED: Maker,ZQM44,12345,2.1 (7)\t***\n"},
      {"bootcode",
       {{"*IDN?\n", "BOOT   :    32 32 32 32 00\r\n"}},
       "*IDN?\n",
       {kModelBootcode, 0, 0, "BOOT   :    32 32 32 32 00", "", "", ""},
       "Bootcode Instrument",
       "***\tIDENTIFIED: BOOT   :    32 32 32 32 00 (bootcode)\t***\n"},
      {"unknown model",
       {{"*IDN?\n", "Maker,QQQ1,77,1.0\r\n"}},
       "*IDN?\n",
       {},
       "Unknown Instrument",
       "***\tUNIDENTIFIED INSTRUMENT\t***\n"},
      {"no comma", {{"*IDN?\n", "HELLO THERE\r\n"}}, "*IDN?\n", {}, "Unknown Instrument", ""},
      {"too long",
       {{"*IDN?\n", longIdn + "\n"},
        {"calstr?\n", std::string(600, 'c') + "\n"},
        {"calver?\n", std::string(600, 'v') + "\n"},
        {"version?\n", std::string(600, 'r') + "\n"}},
       kIdentityQueries,
       {5, 0, 0, longIdn.substr(0, 127), std::string(255, 'c'), std::string(255, 'v'),
        std::string(127, 'r')},
       longIdn.substr(0, 127),
       "IDENTIFIED: " + longIdn.substr(0, 127)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t logStart = testing::CommsLogText(logPath).size();
    testing::RecordingUi ui;
    link.Close();
    link.info = {7, 1, 2, "Maker,ZQM44,1,1", "12_MAR_2023", "01_APR_2024", "v,150", true};
    peer->written.clear();
    peer->respond = testing::Answers(c.answers);
    EXPECT_TRUE(ConnectAndIdentify(ui, link, true));
    EXPECT_EQ(peer->written, kWake + c.asked);
    EXPECT_EQ(Identity(link.info), Identity(c.info));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "The connection was successful\n" + c.shown);
    EXPECT_EQ(ui.messages[0].caption, "Test Connection");
    EXPECT_EQ(ui.messages[0].icon, MessageIcon::Information);
    EXPECT_EQ(ui.waitDepth, 0);
    EXPECT_EQ(ui.waitCount, 1);
    const std::string log = testing::CommsLogText(logPath).substr(logStart);
    const auto connected = log.find("***\tCONNECTED\t***\n");
    EXPECT_LT(log.find("***\tCONNECTING\t***\n"), connected) << log;
    if (c.logged.empty()) {
      EXPECT_EQ(log.find("IDENTIFIED"), std::string::npos) << log;
    } else {
      EXPECT_NE(log.find(c.logged, connected), std::string::npos) << log;
    }
  }
  // The calstr? exchange is logged under the new instrument's serial number.
  EXPECT_NE(testing::CommsLogText(logPath).find("[serial:12345]>>\tcalstr?"), std::string::npos);
}

// Five attempts at most, and an answer to a later one stops them.
TEST_F(IdentifyTest, ASilentInstrumentIsAskedFiveTimes) {
  link.info.modelNumber = 5;
  const std::uint64_t start = clock.TickMs();
  EXPECT_FALSE(ConnectAndIdentify(ui, link, true));
  EXPECT_EQ(peer->written, kWake + "*IDN?\n*IDN?\n*IDN?\n*IDN?\n*IDN?\n");
  EXPECT_GE(clock.TickMs() - start, 500u);  // the drain ran
  EXPECT_EQ(peer->readTimeout, 5000u);
  EXPECT_TRUE(link.portOpen());
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "The connection failed");
  EXPECT_EQ(ui.waitDepth, 0);
  EXPECT_EQ(link.info.modelNumber, 0);  // nothing of the earlier instrument is kept

  int asked = 0;
  peer->respond = [&](MemoryPeer& p, const std::string& command) {
    if (command == "*IDN?\n" && ++asked == 3) p.Queue("M,VXM76,9\n");
  };
  EXPECT_TRUE(ConnectAndIdentify(ui, link, false));
  EXPECT_EQ(asked, 3);
  EXPECT_EQ(link.info.modelNumber, 1);
  EXPECT_EQ(ui.messages.size(), 1u);  // none without the result asked for
}

TEST_F(IdentifyTest, FailedOpenIsReportedEvenWithoutResultAndNoneDoesNothing) {
  link.SetTransportFactory(testing::PeerFactory(
      [](const ConnectionSettings&) { return std::shared_ptr<testing::MemoryPeer>(); }));
  EXPECT_FALSE(ConnectAndIdentify(ui, link, false));
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Unable to open port COM3");
  link.settings.interfaceKind = InterfaceKind::Lan;
  link.settings.ipAddress = "10.0.0.9";
  EXPECT_FALSE(ConnectAndIdentify(ui, link, true));
  EXPECT_EQ(ui.messages.at(1).text, "Failed to connect to IP address 10.0.0.9");
  EXPECT_EQ(ui.waitCount, 0);

  std::remove(logPath.c_str());
  link.settings.interfaceKind = InterfaceKind::None;
  EXPECT_FALSE(ConnectAndIdentify(ui, link, true));
  EXPECT_EQ(ui.messages.size(), 2u);
  EXPECT_EQ(testing::CommsLogText(logPath), "");
}

TEST(BootcodeSignature, NeedsNoCommaAndTheSignatureAtSeven) {
  EXPECT_TRUE(HasBootcodeSignature("1234567:    32 32 32 32"));
  EXPECT_TRUE(HasBootcodeSignature("1234567:    32 32 32 32 more"));
  EXPECT_FALSE(HasBootcodeSignature("123456:    32 32 32 32"));
  EXPECT_FALSE(HasBootcodeSignature("1234567:    32 32 32 3"));
  EXPECT_FALSE(HasBootcodeSignature("1,34567:    32 32 32 32"));
  EXPECT_FALSE(HasBootcodeSignature("12345678"));
  EXPECT_FALSE(HasBootcodeSignature(""));
}

}  // namespace
}  // namespace parlex2
