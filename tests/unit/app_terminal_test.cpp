#include <gtest/gtest.h>

#include <memory>

#include "app/terminal.h"
#include "link/instrument_link.h"
#include "support/fake_clock.h"
#include "support/memory_transport.h"

namespace parlex2 {
namespace {

TEST(TypedCommandBytes, CaretLetterOrBracketBecomesOneControlCharacter) {
  EXPECT_EQ(TypedCommandBytes("^c"), std::string("\x03\n"));
  EXPECT_EQ(TypedCommandBytes("^Z and more"), std::string("\x1A\n"));  // the rest is dropped
  EXPECT_EQ(TypedCommandBytes("^["), std::string("\x1B\n"));
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

std::vector<ReceivedLineAssembler::Line> FeedAll(ReceivedLineAssembler& lines,
                                                 const std::string& bytes, bool convert) {
  std::vector<ReceivedLineAssembler::Line> out;
  ReceivedLineAssembler::Line line;
  for (unsigned char c : bytes) {
    if (lines.Feed(c, convert, line)) out.push_back(line);
  }
  return out;
}

TEST(ReceivedLineAssembler, CutsLongLinesAfter20479Bytes) {
  ReceivedLineAssembler lines;
  auto out = FeedAll(lines, std::string(30000, 'x') + "\n", true);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].text.size(), 20479u);
  EXPECT_EQ(out[1].text.size(), 30000u - 20479u);
}

}  // namespace
}  // namespace parlex2
