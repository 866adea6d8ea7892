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
  EXPECT_EQ(TypedCommandBytes("^C and more"), std::string("\x03\n"));
  EXPECT_EQ(TypedCommandBytes("^A"), std::string("\x01\n"));
  EXPECT_EQ(TypedCommandBytes("^z"), std::string("\x1A\n"));
  EXPECT_EQ(TypedCommandBytes("^["), std::string("\x1B\n"));
  EXPECT_EQ(TypedCommandBytes("^1"), "^1\n");
  EXPECT_EQ(TypedCommandBytes("^"), "^\n");
  EXPECT_EQ(TypedCommandBytes("^^"), "^^\n");
  EXPECT_EQ(TypedCommandBytes("volt?"), "volt?\n");
  EXPECT_EQ(TypedCommandBytes(""), "\n");
}

TEST(SendTypedCommand, ReportsFailuresOfBothTransportKinds) {
  testing::FakeClock clock;
  for (bool comPort : {true, false}) {
    auto peer = std::make_shared<testing::MemoryPeer>();
    peer->countWrites = comPort;
    InstrumentLink link;
    link.settings.interfaceKind = comPort ? InterfaceKind::Usb : InterfaceKind::Lan;
    testing::UseMemoryPeer(link, peer);
    ASSERT_EQ(link.Open(), 0);
    EXPECT_FALSE(SendTypedCommand(link, "^c"));
    EXPECT_EQ(peer->written, std::string("\x14\x03\n"));
    peer->failWrites = true;
    // A COM port reports no bytes written; that is a failure too, not a send.
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

TEST(ReceivedLineAssembler, LineEndsAtLfCrOrNulAndEmptyLinesShowNothing) {
  ReceivedLineAssembler lines;
  static const char kBytes[] = "1.234\r\n\r\n\r\nA\0B\rpart";
  auto out = FeedAll(lines, std::string(kBytes, sizeof kBytes - 1), true);
  ASSERT_EQ(out.size(), 8u);
  EXPECT_EQ(out[0].text, "1.234");
  EXPECT_EQ(out[0].rawLength, 5u);
  for (int i : {1, 2, 3, 4, 5}) EXPECT_EQ(out[i].rawLength, 0u) << i;
  EXPECT_EQ(out[6].text, "A");
  EXPECT_EQ(out[7].text, "B");
  EXPECT_EQ(lines.PendingLength(), 4u);  // "part" waits for its line end
}

TEST(ReceivedLineAssembler, CutsLongLinesAfter20479Bytes) {
  ReceivedLineAssembler lines;
  auto out = FeedAll(lines, std::string(30000, 'x') + "\n", true);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].text.size(), 20479u);
  EXPECT_EQ(out[1].text.size(), 30000u - 20479u);
}

TEST(ReceivedLineAssembler, ConvertsBinaryValuesInsideALineOnlyWhenAsked) {
  ReceivedLineAssembler lines;
  const std::string reply = std::string("V=") + "\x8A\x3A\x80\x80" + " A=" + "\x81\x60\x80\x80" + "\n";
  auto converted = FeedAll(lines, reply, true);
  ASSERT_EQ(converted.size(), 1u);
  EXPECT_EQ(converted[0].text, "V=9.28000E2 A=-1.00000E0");
  EXPECT_EQ(converted[0].rawLength, 13u);
  auto raw = FeedAll(lines, reply, false);
  ASSERT_EQ(raw.size(), 1u);
  EXPECT_EQ(raw[0].text, reply.substr(0, 13));
  // A value cut short by the line's end reads the missing bytes as zero.
  EXPECT_EQ(ReceivedLineAssembler::Convert("\x80\x20", true), "5.00000E-1");
}

TEST(ReceivedLineAssembler, AConvertedLineLongerThanTheLimitIsKeptWhole) {
  std::string raw;
  for (int i = 0; i < 5000; ++i) raw += "\x8A\x3A\x80\x80";
  const std::string shown = ReceivedLineAssembler::Convert(raw, true);
  EXPECT_EQ(shown.size(), 5000u * std::string("9.28000E2").size());
  EXPECT_GT(shown.size(), ReceivedLineAssembler::kLineLimit);
}

}  // namespace
}  // namespace parlex2
