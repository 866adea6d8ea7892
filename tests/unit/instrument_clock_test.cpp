#include "app/instrument_clock.h"

#include <gtest/gtest.h>

#include "link/instrument_link.h"
#include "support/fake_clock.h"
#include "support/memory_transport.h"

namespace parlex2 {
namespace {

// One reading of the computer's clock, sent as six commands in order: the
// month counted from zero, the year in two digits.
TEST(InstrumentClock, SixCommandsFromOneReadingInOrder) {
  testing::FakeClock clock;
  clock.SetNow({.year = 2025, .month = 3, .day = 3, .hour = 9, .minute = 5, .second = 7});
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
  EXPECT_EQ(InstrumentClockCommands(
                {.year = 2000, .month = 12, .day = 31, .hour = 23, .minute = 59, .second = 59}),
            (std::vector<std::string>{"config,240,23\n", "config,241,59\n", "config,242,59\n",
                                      "config,243,31\n", "config,244,11\n", "config,245,00\n"}));
  const auto january = InstrumentClockCommands({.year = 2109, .month = 1});
  EXPECT_EQ(january[4], "config,244,00\n");
  EXPECT_EQ(january[5], "config,245,09\n");
}

}  // namespace
}  // namespace parlex2
