#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "link/comms_log.h"
#include "link/instrument_link.h"
#include "support/comms_log_file.h"
#include "support/fake_clock.h"
#include "support/memory_transport.h"
#include "support/temp_folder.h"

namespace parlex2 {
namespace {

using testing::FakeClock;
using testing::MemoryPeer;

struct OpenLink {
  FakeClock clock;
  std::shared_ptr<MemoryPeer> peer = std::make_shared<MemoryPeer>();
  InstrumentLink link;
  OpenLink() {
    link.settings.interfaceKind = InterfaceKind::Usb;
    testing::UseMemoryPeer(link, peer);
  }
};

TEST(InstrumentLink, OpenWakesTheInstrumentAndDiscardsItsChatter) {
  OpenLink t;
  t.peer->Queue("stale reply\r\n");
  t.peer->respond = testing::Answers({{"\x14", "woken\r\n"}});
  ASSERT_EQ(t.link.Open(), 0);
  EXPECT_TRUE(t.link.portOpen());
  EXPECT_EQ(t.peer->written, "\x14");
  EXPECT_TRUE(t.peer->pending.empty());
  EXPECT_GE(t.clock.Slept(), 100u);  // it listened for a while after the wake byte
  // Open on an open link does nothing.
  EXPECT_EQ(t.link.Open(), 0);
  EXPECT_EQ(t.peer->written, "\x14");
  t.link.Close();
  EXPECT_FALSE(t.link.portOpen());
  t.link.Close();
}

TEST(InstrumentLink, OpenFailsForNoInterfaceAndClosedLinkRefusesIo) {
  FakeClock clock;
  InstrumentLink link;
  link.settings.interfaceKind = InterfaceKind::None;
  EXPECT_EQ(link.Open(), -1);
  EXPECT_FALSE(link.portOpen());
  EXPECT_EQ(link.Send("x\n"), -1);
  EXPECT_EQ(link.ReadByte(), -1);
  char buffer[8];
  EXPECT_EQ(link.ReadLine(buffer, sizeof buffer), -1);
  EXPECT_STREQ(buffer, "");
  const std::uint64_t before = clock.TickMs();
  link.Drain(100);
  EXPECT_EQ(clock.TickMs(), before);  // nothing to wait for
}

TEST(InstrumentLink, ReadLineReplacesABinaryReplyByItsText) {
  OpenLink t;
  ASSERT_EQ(t.link.Open(), 0);
  t.peer->Queue(std::string("\x8A\x3A\x80\x80\r\n") + "plain 1.5\r\n");
  char buffer[128];
  EXPECT_EQ(t.link.ReadLine(buffer, sizeof buffer), 4);  // the length read, not the text's
  EXPECT_STREQ(buffer, "9.28000E2");
  EXPECT_EQ(t.link.ReadLine(buffer, sizeof buffer), 9);
  EXPECT_STREQ(buffer, "plain 1.5");
  // A small buffer gets as much of the text as fits, always terminated.
  t.peer->Queue("\x81\x60\x80\x80\n");
  char small[5];
  t.link.ReadLine(small, sizeof small);
  EXPECT_STREQ(small, "-1.0");
}

TEST(InstrumentLink, DrainDiscardsWhatWaitsAndWaitsOnlyWhenAsked) {
  OpenLink t;
  ASSERT_EQ(t.link.Open(), 0);
  t.peer->Queue("junk\r\n");
  const auto before = t.clock.Slept();
  t.link.Drain(0);
  EXPECT_TRUE(t.peer->pending.empty());
  EXPECT_EQ(t.clock.Slept(), before);
  // Nothing arrives: the drain ends just past its time, not later.
  t.link.Drain(300);
  EXPECT_GT(t.clock.Slept() - before, 300u);
  EXPECT_LE(t.clock.Slept() - before, 310u);
}

// Exchanges are counted also while logging is off.
TEST(LinkLogTest, ExchangesAreNumberedAndCarryTheSerialNumberWhenKnown) {
  testing::TempFolder folder{"parlex2-link-log"};
  const std::string file = folder.File("comms.log");
  testing::CommsLogFile log{file};
  OpenLink t;
  t.link.info.idnReply = "Veltmark,M200";  // two fields: serial number unknown
  ASSERT_EQ(t.link.Open(), 0);
  t.link.Send("*IDN?\n");
  t.link.info.idnReply = "Veltmark,M200,1234,2.01";
  t.peer->Queue("reply 100%\r\n");
  char buffer[64];
  t.link.ReadLine(buffer, sizeof buffer);
  CommsLog::ToggleLogging();
  t.link.Send("a\n");
  t.peer->Queue("b\r\n");
  t.link.ReadLine(buffer, sizeof buffer);
  CommsLog::ToggleLogging();
  t.link.Send("\x14");
  t.link.Send("volt?\n");
  t.link.info.idnReply = "Veltmark,M200,,2.01";  // a serial number field, empty
  t.link.Send("x\n");
  const std::string longSerial(123, '7');  // the longest a 127-character reply holds
  t.link.info.idnReply = "V,M," + longSerial;
  t.link.Send("y\n");
  t.link.Send("\x19");   // the boot loader's wake byte
  t.link.Send("C7D2z");  // a command sent without a line feed
  t.link.Send("\x15");   // the restart byte
  const std::string longTag = "[serial:" + longSerial + "]>>\t";
  // Each entry's number after the first one's, and the entry after its number.
  const std::vector<std::pair<std::uint64_t, std::string>> expected = {
      {0, "[serial:unknown] >>\t\\024"},
      {1, "[serial:unknown] >>\t*IDN?"},
      {2, "[serial:1234]<<\treply 100%"},
      {5, "[serial:1234]>>\t\\024"},
      {6, "[serial:1234]>>\tvolt?"},
      {7, "[serial:]>>\tx"},
      {8, longTag + "y"},
      {9, longTag + "\\031"},
      {10, longTag + "C7D2z"},
      {11, longTag + "\\025"},
  };
  const auto entries = testing::CommsLogEntries(file);
  ASSERT_EQ(entries.size(), expected.size() + 1);
  EXPECT_NE(entries[0].find("LOG FILE OPENED"), std::string::npos);
  const std::uint64_t first = std::strtoull(entries[1].c_str() + 1, nullptr, 10);  // "(00042) ..."
  for (std::size_t i = 0; i < expected.size(); ++i) {
    char number[32];
    std::snprintf(number, sizeof number, "(%05llu) ",
                  static_cast<unsigned long long>(first + expected[i].first));
    EXPECT_EQ(entries[i + 1], number + expected[i].second);
  }
}

}  // namespace
}  // namespace parlex2
