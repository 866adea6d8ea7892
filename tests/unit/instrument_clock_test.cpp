#include "app/instrument_clock.h"

#include <gtest/gtest.h>

#include "link/instrument_link.h"
#include "support/fake_clock.h"
#include "support/memory_transport.h"

namespace parlex2 {
namespace {

TEST(InstrumentClock, SixCommandsFromOneReadingInOrder) {
  testing::FakeClock clock;
  LocalTime now;
  now.year = 2025, now.month = 3, now.day = 3, now.hour = 9, now.minute = 5, now.second = 7;
  clock.SetNow(now);
  auto peer = std::make_shared<testing::MemoryPeer>();
  InstrumentLink link;
  link.settings.interfaceKind = InterfaceKind::Usb;
  testing::UseMemoryPeer(link, peer);
  ASSERT_EQ(link.Open(), 0);
  peer->written.clear();
  EXPECT_TRUE(SetInstrumentDateTime(link));
  EXPECT_EQ(peer->written,
            "config,240,09\nconfig,241,05\nconfig,242,07\nconfig,243,03\nconfig,244,02\n"
            "config,245,25\n");
  // Commands that cannot be sent are told apart.
  peer->failWrites = true;
  EXPECT_FALSE(SetInstrumentDateTime(link));
  link.Close();
  EXPECT_FALSE(SetInstrumentDateTime(link));
}

TEST(InstrumentClock, MonthCountsFromZeroAndYearKeepsTwoDigits) {
  LocalTime end;
  end.year = 2000, end.month = 12, end.day = 31, end.hour = 23, end.minute = 59, end.second = 59;
  const auto commands = InstrumentClockCommands(end);
  ASSERT_EQ(commands.size(), 6u);
  EXPECT_EQ(commands[0], "config,240,23\n");
  EXPECT_EQ(commands[3], "config,243,31\n");
  EXPECT_EQ(commands[4], "config,244,11\n");
  EXPECT_EQ(commands[5], "config,245,00\n");
  end.month = 1, end.year = 2109;
  EXPECT_EQ(InstrumentClockCommands(end)[4], "config,244,00\n");
  EXPECT_EQ(InstrumentClockCommands(end)[5], "config,245,09\n");
}

}  // namespace
}  // namespace parlex2
