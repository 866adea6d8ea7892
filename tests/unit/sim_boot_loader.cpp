// The simulated boot loader: what it accepts, what it refuses, and what ends
// up in its flash.
#include <gtest/gtest.h>

#include <map>

#include "sim/boot_loader.h"
#include "sim/intel_hex.h"

namespace parlex2::sim {
namespace {

using Bytes = std::map<std::uint32_t, std::uint8_t>;

// Feeds `bytes` followed by the zero byte that ends every LAN write, and tells
// what came back: the replies joined by "|", and "<restarted>" where the
// loader restarted the instrument.
std::string Send(BootLoader& loader, const std::string& bytes) {
  std::string replies;
  for (char c : bytes + '\0') {
    const BootLoader::Step step = loader.Feed(static_cast<unsigned char>(c));
    if (step.event == BootLoader::Event::kReply) {
      replies += (replies.empty() ? "" : "|") + step.reply;
    }
    if (step.event == BootLoader::Event::kRestarted) replies += "<restarted>";
  }
  return replies;
}

// A record as the upgrade sends it: the file's line, then CR LF.
std::string Record(std::uint16_t offset, const std::string& data, std::uint8_t type = 0) {
  return MakeHexRecord(type, offset, data) + "\n\r\n";
}

TEST(SimBootLoader, AnswersEachCommandAndRecordAndProgramsTheFlash) {
  const std::pair<std::string, std::string> steps[] = {
      // Everything is refused until the access code, which is case-sensitive.
      {"C2D7y\n", "ERR locked"},
      {"x", "ERR locked"},
      {Record(0, "\x09"), "ERR locked"},
      {"C7D2Z\n", "ERR locked"},
      {"C7D2z\n", "ok"},
      {"x", "ERR no sector"},
      {Record(0x10, "\x09"), "ERR no sector"},
      {"C2D7\n", "ERR unknown command"},
      {"C2D7yy\n", "ERR unknown command"},
      // Sector 0. A record is answered at the carriage return the upgrade
      // appends; a file's last line may lack its line feed; two records run
      // together without CR LF make one bad line.
      {"C2D7y\n", "ok"},
      {":020000000102FC\n\r\n", "ERR checksum error"},  // FB would be right
      {MakeHexRecord(0, 0, "\x01\x02") + "\n", ""},
      {"\r", "ok"},
      {"\n", ""},
      {MakeHexRecord(0, 2, "\x03") + "\r\n", "ok"},
      {MakeHexRecord(0, 3, "\x04") + "\n" + Record(4, "\x05"), "ERR bad digit"},
      // Sector 2: programming twice needs an erase between.
      {"7DC2y\n", "ok"},
      {Record(0x20, "\x55\x66"), "ok"},
      {Record(0x21, "\x77"), "ERR not erased"},
      {"x", "ok"},
      {Record(0x21, "\x77"), "ok"},
      // Sector 4: extended addresses place the data, until the next sector
      // code (sector 5) starts again at zero. Each sector has addresses of its
      // own (sector 0 holds address 2 too), and a record that meets a
      // programmed byte writes none of its bytes.
      {"27CDy\n", "ok"},
      {Record(0, std::string("\x00\x01", 2), 4), "ok"},
      {Record(2, "\xAA"), "ok"},
      {Record(0, std::string("\x20\x00", 2), 2), "ok"},
      {Record(3, "\xBB"), "ok"},
      {Record(0, "", 1), "ok"},
      {"CD72y\n", "ok"},
      {Record(2, "\xCC"), "ok"},
      {Record(1, "\xDD\xEE\xFF"), "ERR not erased"},
      // The restart needs "z" and then the restart byte.
      {"\x15", ""},
      {"z\n", ""},
      {"\x15", "<restarted>"},
  };
  Flash flash;
  BootLoader loader(flash, {});
  loader.Start();
  for (const auto& [bytes, reply] : steps) {
    EXPECT_EQ(Send(loader, bytes), reply) << bytes;
  }
  std::map<int, Bytes> expected = {{0, {{0, 0x01}, {1, 0x02}, {2, 0x03}}},
                                   {2, {{0x21, 0x77}}},
                                   {4, {{0x10002, 0xAA}, {0x20003, 0xBB}}},
                                   {5, {{0x2, 0xCC}}}};
  for (int sector = 0; sector < Flash::kSectorCount; ++sector) {
    EXPECT_EQ(flash.At(sector).bytes, expected[sector]) << sector;
    EXPECT_EQ(flash.At(sector).erases, sector == 2 ? 1 : 0) << sector;
  }
}

TEST(SimBootLoader, RefusesTheNthRecordKTimesCountingResendsAsOne) {
  Flash flash;
  BootLoader loader(flash, {"OK", {{2, 3}}});
  const std::string second = Record(1, "\x02");
  // Each boot session counts its records afresh.
  for (int session = 0; session < 2; ++session) {
    SCOPED_TRACE(session);
    loader.Start();
    EXPECT_EQ(Send(loader, "C7D2z\nC2D7y\nx" + Record(0, "\x01") + second + second + second +
                               second + Record(2, "\x03")),
              "OK|OK|OK|OK|ERR retry|ERR retry|ERR retry|OK|OK");
  }
  EXPECT_EQ(flash.At(0).bytes, (Bytes{{0, 0x01}, {1, 0x02}, {2, 0x03}}));
}

}  // namespace
}  // namespace parlex2::sim
