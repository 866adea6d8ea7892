#include "connect/identify.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "connect/model_table.h"
#include "link/comms_log.h"
#include "link/instrument_link.h"
#include "support/comms_log_file.h"
#include "support/fake_clock.h"
#include "support/memory_transport.h"
#include "support/recording_ui.h"
#include "support/temp_folder.h"

namespace parlex2 {
namespace {

using testing::MemoryPeer;

// An instrument that answers each command from a table; unknown commands get
// no answer.
class IdentifyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    peer = std::make_shared<MemoryPeer>();
    link.settings.interfaceKind = InterfaceKind::Usb;
    link.settings.comPort = "COM3";
    testing::UseMemoryPeer(link, peer);
  }

  void Answer(std::string idn, std::string calstr = "", std::string calver = "",
              std::string version = "") {
    peer->respond = [=](MemoryPeer& p, const std::string& command) {
      if (command == "*IDN?\n" && !idn.empty()) p.Queue(idn + "\r\n");
      if (command == "calstr?\n" && !calstr.empty()) p.Queue(calstr + "\n");
      if (command == "calver?\n" && !calver.empty()) p.Queue(calver + "\n");
      if (command == "version?\n" && !version.empty()) p.Queue(version + "\n");
    };
  }

  // The log as read back in text mode, line ends as "\n".
  std::string Log() const {
    std::string text = testing::ReadFileBytes(logPath);
    std::erase(text, '\r');
    return text;
  }

  testing::TempFolder folder{"parlex2-identify"};
  std::string logPath = folder.File("comms.log");
  testing::CommsLogFile log{logPath};
  testing::FakeClock clock;
  testing::RecordingUi ui;
  std::shared_ptr<MemoryPeer> peer;
  InstrumentLink link;
};

const std::string kWake = "\x14\x14^[";

TEST_F(IdentifyTest, KnownModelIsIdentifiedAndItsIdentityRead) {
  Answer("Maker,ZQM44,12345,2.1", "12_MAR_2023,x", "01_APR_2024", "v,T1,5.2,3.1,2.0,1.1");
  EXPECT_TRUE(ConnectAndIdentify(ui, link, true));
  EXPECT_EQ(peer->written, kWake + "*IDN?\ncalstr?\ncalver?\nversion?\n");
  EXPECT_EQ(link.info.modelNumber, 7);
  EXPECT_EQ(link.info.idnReply, "Maker,ZQM44,12345,2.1");
  EXPECT_EQ(link.info.calstrReply, "12_MAR_2023,x");
  EXPECT_EQ(link.info.calverReply, "01_APR_2024");
  EXPECT_EQ(link.info.versionReply, "v,T1,5.2,3.1,2.0,1.1");
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "The connection was successful\nMaker,ZQM44,12345,2.1");
  EXPECT_EQ(ui.messages[0].caption, "Test Connection");
  EXPECT_EQ(ui.messages[0].icon, MessageIcon::Information);
  EXPECT_EQ(ui.waitDepth, 0);
  EXPECT_EQ(ui.waitCount, 1);
  const std::string log = Log();
  const auto connecting = log.find("***\tCONNECTING\t***\n");
  const auto connected = log.find("***\tCONNECTED\t***\n");
  const auto identified = log.find("***\tIDENTIFIED: Maker,ZQM44,12345,2.1 (7)\t***\n");
  ASSERT_NE(identified, std::string::npos) << log;
  EXPECT_LT(connecting, connected);
  EXPECT_LT(connected, identified);
  // The calstr? exchange is logged under the new instrument's serial number.
  EXPECT_NE(log.find("[serial:12345]>>\tcalstr?"), std::string::npos) << log;
}

TEST_F(IdentifyTest, SilentInstrumentIsAskedFiveTimes) {
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
}

TEST_F(IdentifyTest, AnswerOnALaterAttemptStopsTheAttempts) {
  int asked = 0;
  peer->respond = [&](MemoryPeer& p, const std::string& command) {
    if (command == "*IDN?\n" && ++asked == 3) p.Queue("M,VXM76,9\n");
  };
  EXPECT_TRUE(ConnectAndIdentify(ui, link, false));
  EXPECT_EQ(asked, 3);
  EXPECT_EQ(link.info.modelNumber, 1);
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(IdentifyTest, BootcodeInstrumentSkipsTheIdentityReplies) {
  link.info.calstrReply = "old";
  Answer("BOOT   :    32 32 32 32 00");
  EXPECT_TRUE(ConnectAndIdentify(ui, link, true));
  EXPECT_EQ(peer->written, kWake + "*IDN?\n");
  EXPECT_EQ(link.info.modelNumber, kModelBootcode);
  EXPECT_EQ(link.info.idnReply, "BOOT   :    32 32 32 32 00");
  EXPECT_EQ(link.info.calstrReply, "");  // not the earlier instrument's
  EXPECT_EQ(ui.messages.at(0).text, "The connection was successful\nBootcode Instrument");
  EXPECT_NE(Log().find("***\tIDENTIFIED: BOOT   :    32 32 32 32 00 (bootcode)\t***\n"),
            std::string::npos);
}

// An answer naming no known model, and one without a comma that is no bootcode
// signature, must not leave the previously identified instrument's reply in
// place: the result message and the window title would name an instrument
// that is no longer there. Only the first is logged as an instrument.
TEST_F(IdentifyTest, UnknownModelOrReplyWithoutCommaForgetsThePreviousInstrument) {
  for (const auto& [reply, logged] :
       {std::pair{"Maker,QQQ1,77,1.0", true}, std::pair{"HELLO THERE", false}}) {
    SCOPED_TRACE(reply);
    const std::size_t logStart = Log().size();
    peer->written.clear();
    link.Close();
    link.info = {7, 1, 2, "Maker,ZQM44,1,1", "12_MAR_2023", "01_APR_2024", "v,150", true};
    ui.messages.clear();
    Answer(reply);
    EXPECT_TRUE(ConnectAndIdentify(ui, link, true));
    EXPECT_EQ(peer->written, kWake + "*IDN?\n");
    // Everything identification fills starts afresh: the earlier version
    // reply must not reach the upgrade's version check as this one's.
    EXPECT_EQ(link.info.modelNumber, 0);
    EXPECT_EQ(link.info.familyVariant, 0);
    EXPECT_EQ(link.info.modelVariant, 0);
    EXPECT_EQ(link.info.idnReply, "");
    EXPECT_EQ(link.info.calstrReply, "");
    EXPECT_EQ(link.info.calverReply, "");
    EXPECT_EQ(link.info.versionReply, "");
    EXPECT_EQ(ui.messages.at(0).text, "The connection was successful\nUnknown Instrument");
    const std::string log = Log().substr(logStart);
    EXPECT_EQ(log.find("***\tUNIDENTIFIED INSTRUMENT\t***\n") != std::string::npos, logged) << log;
    if (!logged) {
      EXPECT_EQ(log.find("IDENTIFIED"), std::string::npos) << log;
    }
  }
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
  EXPECT_EQ(Log(), "");
}

TEST_F(IdentifyTest, HostileRepliesAreCutToTheirFields) {
  const std::string longModel = "M,VXM66," + std::string(400, 'x');
  Answer(longModel, std::string(600, 'c'), std::string(600, 'v'), std::string(600, 'r'));
  EXPECT_TRUE(ConnectAndIdentify(ui, link, false));
  EXPECT_EQ(link.info.modelNumber, 5);
  EXPECT_EQ(link.info.idnReply, longModel.substr(0, 127));
  EXPECT_EQ(link.info.calstrReply, std::string(255, 'c'));
  EXPECT_EQ(link.info.calverReply, std::string(255, 'v'));
  EXPECT_EQ(link.info.versionReply, std::string(127, 'r'));
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
