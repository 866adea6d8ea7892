// The simulator's record parser, flash dump, transcript format, discovery
// replies and soak stream. The soak stream's lines are whole (no line end
// inside, not even in a binary value), numbered from 1 with a check a reader
// can recompute, and the end line counts exactly what went before it. (Its
// binary values and end line are read back by the Soak suite's reader too.)
#include <gtest/gtest.h>

#include <cstdio>

#include "sim/discovery.h"
#include "sim/flash.h"
#include "sim/intel_hex.h"
#include "sim/soak.h"
#include "sim/transcript.h"

namespace parlex2::sim {
namespace {

TEST(SimHexRecord, ParsesValidRecordsAndNamesEachMalformedOne) {
  struct Case {
    const char* line;
    HexError error;
  };
  const Case cases[] = {
      {":0400100001020304E2", HexError::kNone},
      {":0400100001020304e2", HexError::kNone},  // lower-case digits
      {":00000001FF", HexError::kNone},
      {":020000040001F9", HexError::kNone},
      {"0400100001020304E2", HexError::kNoColon},
      {"", HexError::kNoColon},
      {":0400100001020304E", HexError::kBadDigit},  // odd count
      {":04001000010203G4E2", HexError::kBadDigit},
      {":0400100001020304E2 ", HexError::kBadDigit},  // trailing blank
      {":0500100001020304E1", HexError::kBadLength},
      {":00", HexError::kBadLength},
      {":0400100001020304E3", HexError::kBadChecksum},
      {":0400100601020304DC", HexError::kBadType},
      {":0100000400FB", HexError::kBadAddressRecord},
      {":01000001AA54", HexError::kBadAddressRecord},  // end of file with data
  };
  for (const Case& c : cases) {
    HexError error = HexError::kBadType;
    auto record = ParseHexRecord(c.line, &error);
    EXPECT_EQ(error, c.error) << c.line;
    EXPECT_EQ(record.has_value(), c.error == HexError::kNone) << c.line;
  }
}

TEST(SimHexFileImage, AppliesExtendedAddressesAndPassesOverComments) {
  std::string file = "; comment line\r\n" + MakeHexRecord(0, 0x0100, "\x11\x22") + "\r\n" +
                     MakeHexRecord(4, 0, std::string("\x00\x02", 2)) + "\n" +
                     MakeHexRecord(0, 0x0010, "\x33") + "\n" +
                     MakeHexRecord(2, 0, std::string("\x10\x00", 2)) + "\n" +
                     MakeHexRecord(0, 0x0001, "\x44") + "\n" + MakeHexRecord(1, 0, "");
  std::map<std::uint32_t, std::uint8_t> image;
  ASSERT_TRUE(HexFileImage(file, image));
  std::map<std::uint32_t, std::uint8_t> expected = {
      {0x100, 0x11}, {0x101, 0x22}, {0x20010, 0x33}, {0x10001, 0x44}};
  EXPECT_EQ(image, expected);

  int badLine = 0;
  EXPECT_FALSE(HexFileImage("; ok\n:0400100001020304E3\n", image, &badLine));
  EXPECT_EQ(badLine, 2);
}

TEST(SimFlash, DumpReadsBackWithGapsLongRunsAndEraseCounts) {
  Flash flash;
  flash.Erase(2);
  flash.Erase(2);
  std::string run;
  for (int i = 0; i < 40; ++i) run.push_back(static_cast<char>(i * 7));
  ASSERT_TRUE(flash.Program(2, 0x1000, run));
  ASSERT_TRUE(flash.Program(2, 0x2000, "\xAB"));
  ASSERT_TRUE(flash.Program(14, 0xFFFFFFF0, "\x01\x02"));
  std::string dump = flash.Dump();
  EXPECT_NE(dump.find("sector 2 erases 2\n00001000: 00 07 0E"), std::string::npos) << dump;
  EXPECT_NE(dump.find("00002000: AB\n"), std::string::npos) << dump;
  auto back = Flash::ParseDump(dump);
  ASSERT_TRUE(back);
  EXPECT_TRUE(*back == flash);

  EXPECT_FALSE(Flash::ParseDump("00000000: 01\n"));  // bytes before any sector
  EXPECT_FALSE(Flash::ParseDump("sector 15 erases 0\n"));
  EXPECT_FALSE(Flash::ParseDump("sector 1 erases 0\n00000000: 100\n"));
  EXPECT_FALSE(Flash::ParseDump("sector 1 erases 0\nhello\n"));
  EXPECT_FALSE(Flash::ParseDump("sector 1 erases 0 more\n"));
  EXPECT_FALSE(Flash::ParseDump("sector 4294967297 erases 0\n"));  // not int, not sector 1
  EXPECT_FALSE(Flash::ParseDump("sector 1 erases 99999999999\n"));
}

TEST(SimTranscript, ChunksReadBackByteForByte) {
  std::string awkward("\x00|ok\r\n\xFF", 7);
  std::string text = FormatTranscriptEvent(3, "client 127.0.0.1:1") +
                     FormatTranscriptChunk(12, true, "*IDN?\n") +
                     FormatTranscriptChunk(123456789, false, awkward);
  EXPECT_NE(text.find("      12 RX 2A 49 44 4E 3F 0A |*IDN?.|\n"), std::string::npos) << text;
  std::string chunks;
  for (const auto& chunk : ParseTranscript(text)) {
    chunks += (chunk.received ? "RX " : "TX ") + std::to_string(chunk.ms) + " " + chunk.bytes + "|";
  }
  EXPECT_EQ(chunks, "RX 12 *IDN?\n|TX 123456789 " + awkward + "|");
}

TEST(SimDiscovery, RepliesMeetWhatTheSearchAcceptsAndOtherDatagramsAreIgnored) {
  // "A", maker, model and serial number, "/" and the port: at least 26 bytes.
  EXPECT_EQ(DiscoveryReply(65535, "X", "Veltmark,VXM66,10472,2.15", 10001),
            "AVeltmark VXM66 10472 /10001");
  // A short description is padded; a '/' in it would mislead the search.
  EXPECT_EQ(DiscoveryReply(65535, "X", "a/b", 10001), "Aa-b /10001" + std::string(15, ' '));

  std::string second = DiscoveryReply(30718, std::string("\0\0\0\xF6", 4), "", 10001);
  ASSERT_EQ(second.size(), 30u);
  EXPECT_EQ(static_cast<unsigned char>(second[3]), 0xF7);

  EXPECT_EQ(DiscoveryReply(30718, "X", "", 10001), "");
  EXPECT_EQ(DiscoveryReply(65535, "XX", "", 10001), "");
  EXPECT_EQ(DiscoveryReply(65535, std::string("\0\0\0\xF6", 4), "", 10001), "");
  EXPECT_EQ(DiscoveryReply(30718, std::string("\0\0\0\xF6\0", 5), "", 10001), "");
  EXPECT_EQ(DiscoveryReply(30718, std::string("\0\0\0\xF5", 4), "", 10001), "");
}

TEST(SimSoak, StreamLinesAreWholeCarryTheirOwnCheckAndTheEndLineCountsThem) {
  SoakStream stream;
  stream.Start(200000);
  std::string out;
  while (stream.Active()) stream.Fill(out, out.size() + 700);
  const std::size_t end = out.rfind("end,");
  ASSERT_NE(end, std::string::npos);
  std::uint64_t n = 0;
  for (std::size_t at = 0; at < end; at = out.find("\r\n", at) + 2) {
    const std::string body = out.substr(at, out.find("\r\n", at) - at);
    ++n;
    ASSERT_EQ(body.find_first_of(std::string("\r\n\0", 3)), std::string::npos) << n;
    // Every fourth line binary; its check covers "b,N", a text line's all but the check.
    const std::string head = (n % 4 == 0 ? "b," : "t,") + std::to_string(n);
    ASSERT_EQ(body.rfind(head + ",", 0), 0u) << body;
    const std::size_t check = body.rfind(',');
    char hash[16];
    std::snprintf(hash, sizeof hash, "%08X", SoakHash(n % 4 == 0 ? head : body.substr(0, check)));
    EXPECT_EQ(body.substr(check + 1), hash) << body;
  }
  EXPECT_EQ(out.substr(end), "end," + std::to_string(n) + "," + std::to_string(end) + "\r\n");
  EXPECT_GE(end, 200000u);
  EXPECT_LT(end - SoakLine(n).size(), 200000u);  // the last line was the one that reached it
}

}  // namespace
}  // namespace parlex2::sim
