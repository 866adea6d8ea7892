#include <gtest/gtest.h>

#include <memory>

#include "app/terminal.h"
#include "link/instrument_link.h"
#include "support/fake_clock.h"
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

TEST(SendTypedCommand, ReportsFailuresOfBothTransportKinds) {
  testing::FakeClock clock;
  for (bool comPort : {true, false}) {
    auto peer = std::make_shared<testing::MemoryPeer>();
    InstrumentLink link;
    link.settings.interfaceKind = comPort ? InterfaceKind::Usb : InterfaceKind::Lan;
    testing::UseMemoryPeer(link, peer);
    ASSERT_EQ(link.Open(), 0);
    EXPECT_FALSE(SendTypedCommand(link, "^c"));
    EXPECT_EQ(peer->written, std::string("\x14\x03\n"));
    peer->failWrites = true;
    // A COM port's 0 bytes written is a failure as much as the LAN's -1.
    EXPECT_TRUE(SendTypedCommand(link, "volt?")) << (comPort ? "COM port" : "LAN");
  }
}

}  // namespace
}  // namespace parlex2
