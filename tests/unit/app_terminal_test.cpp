// What the window sends the instrument of its own: typed commands and the
// six commands of Set Date/Time.
#include <gtest/gtest.h>

#include <memory>

#include "app/instrument_clock.h"
#include "app/terminal.h"
#include "link/instrument_link.h"
#include "support/fake_clock.h"
#include "support/fake_shell.h"
#include "support/memory_transport.h"

namespace parlex2 {
namespace {

TEST(TypedCommandBytes, CaretLetterOrBracketBecomesOneControlCharacter) {
  EXPECT_EQ(TypedCommandBytes("^Z and more"), "\x1A\n");  // the rest is dropped
  EXPECT_EQ(TypedCommandBytes("^["), "\x1B\n");
  EXPECT_EQ(TypedCommandBytes("^1"), "^1\n");
  EXPECT_EQ(TypedCommandBytes("^"), "^\n");
  EXPECT_EQ(TypedCommandBytes(""), "\n");
}

// A COM port's 0 bytes written is a failure as much as the LAN's -1 (the
// LAN's: ShellTerminal.SendEchoesFailureDisconnectsAndSaveAsksForATextFile).
TEST(SendTypedCommand, ReportsTheFailureOfAComPort) {
  testing::FakeClock clock;
  auto peer = std::make_shared<testing::MemoryPeer>();
  InstrumentLink link;
  link.settings.interfaceKind = InterfaceKind::Usb;
  testing::UseMemoryPeer(link, peer);
  ASSERT_EQ(link.Open(), 0);
  EXPECT_FALSE(SendTypedCommand(link, "^c"));
  EXPECT_EQ(peer->written, std::string("\x14\x03\n"));
  peer->failWrites = true;
  EXPECT_TRUE(SendTypedCommand(link, "volt?"));
}

// One reading of the computer's clock, sent as six commands in order, each
// in two digits: the month counted from zero, the year's last two digits.
TEST(InstrumentClock, SixCommandsFromOneReadingInOrder) {
  testing::FakeShell shell;  // its link open onto an in-memory instrument
  shell.clock.SetNow({.year = 2109, .month = 1, .day = 3, .hour = 9, .minute = 5, .second = 7});
  EXPECT_TRUE(SetInstrumentDateTime(shell.link));
  EXPECT_EQ(shell.peer->written,
            "config,240,09\nconfig,241,05\nconfig,242,07\nconfig,243,03\nconfig,244,00\n"
            "config,245,09\n");
  EXPECT_EQ(InstrumentClockCommands({.year = 2000, .month = 12})[4], "config,244,11\n");
}

}  // namespace
}  // namespace parlex2
