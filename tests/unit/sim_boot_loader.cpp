// The simulated boot loader: what it accepts, what it refuses, and what ends
// up in its flash.
#include <gtest/gtest.h>

#include "sim/boot_loader.h"
#include "sim/intel_hex.h"

namespace parlex2::sim {
namespace {

bool EndsInOk(const std::string& reply) {
  return reply.size() >= 2 && (reply[reply.size() - 2] | 0x20) == 'o' &&
         (reply.back() | 0x20) == 'k';
}

// Feeds bytes as the upgrade sends them over TCP (each send followed by a zero
// byte) and collects the replies.
class BootLoaderTest : public ::testing::Test {
 protected:
  explicit BootLoaderTest(BootLoaderConfig config = {}) : loader_(flash_, std::move(config)) {
    loader_.Start();
  }

  std::vector<std::string> Feed(std::string_view bytes) {
    std::vector<std::string> replies;
    for (char c : bytes) {
      auto step = loader_.Feed(static_cast<unsigned char>(c));
      if (step.event == BootLoader::Event::kReply) replies.push_back(step.reply);
      events_.push_back(step.event);
    }
    return replies;
  }
  std::string Send(std::string_view command) {
    auto replies = Feed(std::string(command) + '\0');
    EXPECT_LE(replies.size(), 1u) << command;
    return replies.empty() ? "(none)" : replies[0];
  }
  std::string SendRecord(const std::string& record) { return Send(record + "\n\r\n"); }

  Flash flash_;
  BootLoader loader_;
  std::vector<BootLoader::Event> events_;
};

TEST_F(BootLoaderTest, RefusesEverythingUntilTheAccessCode) {
  EXPECT_EQ(Send("C2D7y\n"), "ERR locked");
  EXPECT_EQ(Send("x"), "ERR locked");
  EXPECT_EQ(SendRecord(MakeHexRecord(0, 0, "\x01")), "ERR locked");
  EXPECT_EQ(Send("C7D2Z\n"), "ERR locked");  // codes are case-sensitive
  EXPECT_EQ(Send("C7D2z\n"), "ok");
  // Unlocked, but no sector chosen yet: erase and records are refused.
  EXPECT_EQ(Send("x"), "ERR no sector");
  std::string reply = SendRecord(MakeHexRecord(0, 0x10, "\x01\x02"));
  EXPECT_FALSE(EndsInOk(reply)) << reply;
  EXPECT_EQ(Send("C2D7y\n"), "ok");
  EXPECT_EQ(loader_.SelectedSector(), 0);
  for (int s = 0; s < Flash::kSectorCount; ++s) {
    EXPECT_EQ(flash_.At(s).erases, 0);
    EXPECT_TRUE(flash_.At(s).bytes.empty());
  }
}

TEST_F(BootLoaderTest, EverySectorCodeSelectsItsSectorAndOthersAreRefused) {
  Send("C7D2z\n");
  for (int sector = 0; sector < Flash::kSectorCount; ++sector) {
    EXPECT_EQ(Send(std::string(kSectorCodes[sector]) + "\n"), "ok");
    EXPECT_EQ(loader_.SelectedSector(), sector);
  }
  EXPECT_EQ(Send("C2D7\n"), "ERR unknown command");
  EXPECT_EQ(Send("C2D7yy\n"), "ERR unknown command");
  EXPECT_EQ(loader_.SelectedSector(), 14);
}

TEST_F(BootLoaderTest, ProgrammingTwiceNeedsAnEraseBetween) {
  Send("C7D2z\n");
  Send("7DC2y\n");  // sector 2
  std::string record = MakeHexRecord(0, 0x20, "\x55\x66");
  EXPECT_EQ(SendRecord(record), "ok");  // the flash starts blank
  std::string again = SendRecord(MakeHexRecord(0, 0x21, "\x77"));
  EXPECT_FALSE(EndsInOk(again)) << again;
  EXPECT_EQ(flash_.At(2).bytes.at(0x21), 0x66);
  EXPECT_EQ(Send("x"), "ok");
  EXPECT_EQ(flash_.At(2).erases, 1);
  EXPECT_EQ(SendRecord(MakeHexRecord(0, 0x21, "\x77")), "ok");
  std::map<std::uint32_t, std::uint8_t> expected = {{0x21, 0x77}};
  EXPECT_EQ(flash_.At(2).bytes, expected);
}

TEST_F(BootLoaderTest, BadRecordsAreRefusedAndWriteNothing) {
  Send("C7D2z\n");
  Send("C2D7y\n");
  std::string good = MakeHexRecord(0, 0, "\x01\x02\x03\x04");
  std::string badChecksum = good;
  badChecksum.back() = badChecksum.back() == '0' ? '1' : '0';
  for (const std::string& bad :
       {badChecksum, good.substr(0, good.size() - 2), good + "00", std::string(":"),
        std::string(":zz"), good.substr(0, 9) + "7" + good.substr(10)}) {
    std::string reply = SendRecord(bad);
    EXPECT_TRUE(reply.rfind("ERR ", 0) == 0) << bad << " -> " << reply;
  }
  EXPECT_EQ(SendRecord(badChecksum), "ERR checksum error");
  EXPECT_TRUE(flash_.At(0).bytes.empty());
  EXPECT_EQ(SendRecord(good), "ok");
}

TEST_F(BootLoaderTest, RecordIsAnsweredAtTheCarriageReturnTheUpgradeAppends) {
  Send("C7D2z\n");
  Send("C2D7y\n");
  std::string record = MakeHexRecord(0, 0, "\x01");
  EXPECT_TRUE(Feed(record + "\n").empty());  // the file's line alone gets no answer
  EXPECT_EQ(Feed("\r"), std::vector<std::string>{"ok"});
  EXPECT_TRUE(Feed("\n").empty());
  // A file's last line may lack its line feed: CR LF alone still ends it.
  EXPECT_EQ(Feed(MakeHexRecord(0, 1, "\x02") + "\r\n"), std::vector<std::string>{"ok"});
  // Two records run together without CR LF make one bad line.
  auto replies = Feed(MakeHexRecord(0, 2, "\x03") + "\n" + MakeHexRecord(0, 3, "\x04") + "\r\n");
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_FALSE(EndsInOk(replies[0]));
  EXPECT_EQ(flash_.At(0).bytes.size(), 2u);
}

TEST_F(BootLoaderTest, ExtendedAddressRecordsPlaceDataAndEachSectorCodeStartsAtZero) {
  Send("C7D2z\n");
  Send("C2D7y\n");
  EXPECT_EQ(SendRecord(MakeHexRecord(4, 0, std::string("\x00\x01", 2))), "ok");
  EXPECT_EQ(SendRecord(MakeHexRecord(0, 0x0002, "\xAA")), "ok");
  EXPECT_EQ(SendRecord(MakeHexRecord(2, 0, std::string("\x20\x00", 2))), "ok");
  EXPECT_EQ(SendRecord(MakeHexRecord(0, 0x0003, "\xBB")), "ok");
  EXPECT_EQ(SendRecord(MakeHexRecord(1, 0, "")), "ok");
  Send("D7C2y\n");
  EXPECT_EQ(SendRecord(MakeHexRecord(0, 0x0004, "\xCC")), "ok");
  std::map<std::uint32_t, std::uint8_t> sector0 = {{0x10002, 0xAA}, {0x20003, 0xBB}};
  std::map<std::uint32_t, std::uint8_t> sector1 = {{0x4, 0xCC}};
  EXPECT_EQ(flash_.At(0).bytes, sector0);
  EXPECT_EQ(flash_.At(1).bytes, sector1);
}

TEST_F(BootLoaderTest, RestartNeedsZThenTheRestartByte) {
  Send("C7D2z\n");
  events_.clear();
  Feed(std::string(1, kRestartByte));
  EXPECT_EQ(events_.back(), BootLoader::Event::kNone);
  EXPECT_EQ(Send("z\n"), "(none)");
  events_.clear();
  Feed(std::string(1, kRestartByte));
  EXPECT_EQ(events_.back(), BootLoader::Event::kRestarted);
}

class RefusingBootLoaderTest : public BootLoaderTest {
 protected:
  RefusingBootLoaderTest() : BootLoaderTest({"OK", {{2, 3}}}) {}
};

TEST_F(RefusingBootLoaderTest, RefusesTheNthRecordKTimesCountingResendsAsOne) {
  EXPECT_EQ(Send("C7D2z\n"), "OK");
  Send("C2D7y\n");
  std::string first = MakeHexRecord(0, 0, "\x01");
  std::string second = MakeHexRecord(0, 1, "\x02");
  std::string third = MakeHexRecord(0, 2, "\x03");
  EXPECT_EQ(SendRecord(first), "OK");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(SendRecord(second), "ERR retry") << i;
  EXPECT_EQ(SendRecord(second), "OK");
  EXPECT_EQ(SendRecord(third), "OK");
  EXPECT_EQ(flash_.At(0).bytes.size(), 3u);
  // A new boot session counts its records afresh.
  loader_.Start();
  Send("C7D2z\n");
  Send("C2D7y\n");
  Send("x");
  EXPECT_EQ(SendRecord(first), "OK");
  EXPECT_EQ(SendRecord(second), "ERR retry");
}

}  // namespace
}  // namespace parlex2::sim
