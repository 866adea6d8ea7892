// The upgrade worker against the simulator's instrument, in process: what it
// sends, what it reports, and what ends up in the flash.
#include "upgrade/upgrade_worker.h"

#include <gtest/gtest.h>

#include "sim/boot_loader.h"
#include "sim/intel_hex.h"
#include "support/fake_clock.h"
#include "support/upgrade_support.h"
#include "upgrade/boot_protocol.h"

namespace parlex2 {
namespace {

using testing::FakeClock;
using testing::FlashAfter;
using testing::HexFile;
using testing::TempFolder;

class UpgradeWorkerTest : public ::testing::Test {
 protected:
  UpgradeWorkerTest() { EXPECT_TRUE(run_.opened); }

  FakeClock clock_;
  TempFolder dir_;
  testing::WorkerRun run_{dir_};
};

TEST_F(UpgradeWorkerTest, TwoSectorsAreErasedProgrammedAndTheInstrumentRestarted) {
  const std::string main = HexFile(1, 40, 0x0000);
  const std::string second = HexFile(2, 10, 0x8000, "\r\n");
  run_.Add(0, "main.hex", main);
  run_.Add(2, "second.hex", second);
  const std::uint64_t start = clock_.TickMs();
  run_.Run();

  EXPECT_TRUE(run_.descriptor.upgradeSucceeded);
  EXPECT_EQ(run_.progress.finished, 1);
  EXPECT_EQ(
      run_.progress.statuses,
      (std::vector<std::string>{"Initialising Instrument", "Erasing sector 0", "Erasing sector 2",
                                "Sending file main.hex", "Sending file second.hex",
                                "Restarting Instrument", "Finished"}));
  EXPECT_EQ(run_.progress.logs,
            (std::vector<std::string>{"Instrument initialised OK", "All sectors erased OK",
                                      "Firmware sent OK"}));
  // The sending spans both files and ends before the log that says so.
  EXPECT_EQ(run_.progress.sending, (std::vector<bool>{true, false}));
  EXPECT_EQ(run_.progress.logsWhenSendingEnded, 2u);
  // Erasing shows 51 then 100; programming climbs back from 0 to 100.
  ASSERT_GE(run_.progress.percents.size(), 5u);
  EXPECT_EQ(std::vector<int>(run_.progress.percents.begin(), run_.progress.percents.begin() + 4),
            (std::vector<int>{0, 51, 100, 0}));
  EXPECT_EQ(run_.progress.percents.back(), 100);
  for (std::size_t i = 4; i < run_.progress.percents.size(); ++i) {
    EXPECT_GT(run_.progress.percents[i], run_.progress.percents[i - 1]);
  }

  EXPECT_EQ(run_.Flash(), FlashAfter({{0, 1, main}, {2, 1, second}}));
  EXPECT_FALSE(run_.device.instrument->InBootLoader());
  // Comment lines are read but never sent; a CR LF file sends LF records.
  EXPECT_EQ(run_.Sent().find("; firmware"), std::string::npos);
  EXPECT_EQ(run_.Sent().find("\r\n\r\n"), std::string::npos);
  EXPECT_EQ(run_.Sent().substr(0, 1), std::string(1, kBootWakeByte));
  EXPECT_EQ(run_.Sent().substr(run_.Sent().size() - 3), "z\n\x15");
  // The settling waits: 1 s + 5 s around the wake byte, 0.5 s + 1 s restart.
  EXPECT_GE(clock_.TickMs() - start, 7500u);
}

TEST_F(UpgradeWorkerTest, SectorIsSkippedOnlyWhenEveryEntryNamingItIsOver) {
  const std::string x = HexFile(4, 3, 0x0000);
  const std::string y = HexFile(5, 3, 0x1000);
  const std::string z = HexFile(6, 3, 0x2000);
  const std::string w = HexFile(13, 3, 0x3000);
  run_.Add(1, "patch.hex", x, true);  // sector 1: an OVER ...
  run_.Add(1, "load.hex", y);         // ... and a LOAD: erased
  run_.Add(2, "two.hex", z);
  run_.Add(3, "over.hex", w, true);              // sector 3: OVER only, skipped
  run_.Add(4, "hidden.hex", z).serialLow = 500;  // sector 4: a LOAD not shown does not count
  run_.Add(4, "over4.hex", w, true);
  run_.Run();
  EXPECT_TRUE(run_.descriptor.upgradeSucceeded);
  // The hidden entry is neither erased, nor sent, nor named.
  EXPECT_EQ(run_.progress.statuses,
            (std::vector<std::string>{
                "Initialising Instrument", "Erasing sector 1", "Erasing sector 2",
                "Skipping sector 3", "Skipping sector 4", "Sending file patch.hex",
                "Sending file load.hex", "Sending file two.hex", "Sending file over.hex",
                "Sending file over4.hex", "Restarting Instrument", "Finished"}));
  // Both files of sector 1 were programmed, each after its own access code.
  EXPECT_EQ(run_.Flash(), FlashAfter({{1, 1, x}, {1, 0, y}, {2, 1, z}, {3, 0, w}, {4, 0, w}}));
}

// With every entry hidden there is nothing to write: the boot loader is not
// woken and the instrument not restarted.
TEST_F(UpgradeWorkerTest, NothingIsSentWhenEveryEntryIsHidden) {
  run_.Add(0, "all.hex", HexFile(7, 3, 0)).serialLow = 500;  // not for serial 150
  run_.Run();
  EXPECT_EQ(run_.Sent(), "");
  EXPECT_FALSE(run_.descriptor.upgradeSucceeded);
  EXPECT_EQ(run_.progress.logs, std::vector<std::string>{"ERROR: No firmware file to send"});
}

TEST_F(UpgradeWorkerTest, SectorWithoutAccessCodeIsRefusedBeforeAnythingIsSent) {
  run_.Add(0, "main.hex", HexFile(9, 3, 0));
  run_.Add(15, "big.hex", HexFile(10, 3, 0));
  run_.Run();
  EXPECT_FALSE(run_.descriptor.upgradeSucceeded);
  EXPECT_EQ(run_.progress.finished, 1);
  EXPECT_EQ(run_.Sent(), "");
  EXPECT_EQ(run_.progress.logs,
            std::vector<std::string>{"ERROR: Sector 15 cannot be written (no access code)"});
  EXPECT_TRUE(ExchangeSectorCode(run_.link, 15));  // fails, and sends nothing either
  EXPECT_EQ(run_.Sent(), "");
}

TEST_F(UpgradeWorkerTest, FilesThatCannotBeSentFailTheirEntry) {
  // A record line longer than the worker reads at once goes out cut and is
  // refused; a file gone since it was listed cannot be opened.
  const std::string longRecord = ":" + std::string(600, 'A') + "\n";
  run_.Add(0, "long.hex", longRecord);
  run_.Run();
  EXPECT_FALSE(run_.descriptor.upgradeSucceeded);
  EXPECT_EQ(run_.progress.logs.back(), "ERROR: Failed to send file long.hex");
  EXPECT_NE(run_.Sent().find(":" + std::string(509, 'A') + "\r\n"), std::string::npos);
  EXPECT_EQ(run_.Sent().find(std::string(510, 'A')), std::string::npos);

  testing::WorkerRun gone(dir_);
  std::filesystem::remove(gone.Add(0, "gone.hex", HexFile(11, 2, 0)).path);
  gone.Run();
  EXPECT_EQ(gone.progress.logs.back(), "ERROR: Failed to send file gone.hex");
}

TEST_F(UpgradeWorkerTest, RecordIsSentFourTimesAtMost) {
  for (int times : {3, 4}) {
    SCOPED_TRACE(times);
    sim::InstrumentConfig config;
    config.refusals = {{2, times}};
    config.ok = "OK";
    testing::WorkerRun run(dir_, config, InterfaceKind::Lan);
    run.Add(0, "f.hex", HexFile(12, 4, 0));
    run.Run();
    EXPECT_EQ(run.descriptor.upgradeSucceeded, times == 3);
    if (times == 4) {
      EXPECT_EQ(run.progress.logs.back(), "ERROR: Failed to send file f.hex");
      EXPECT_EQ(run.progress.sending, (std::vector<bool>{true, false}));
      EXPECT_EQ(run.progress.logsWhenSendingEnded, run.progress.logs.size() - 1);
      EXPECT_EQ(run.Sent().find(kRestartByte), std::string::npos);  // not restarted
    }
  }
}

TEST_F(UpgradeWorkerTest, BootAccessIsTriedTwice) {
  sim::InstrumentConfig config;
  config.muteAfter = 0;  // the loader never answers
  testing::WorkerRun run(dir_, config);
  run.Add(0, "a.hex", HexFile(14, 2, 0));
  run.Run();
  EXPECT_EQ(run.progress.logs, std::vector<std::string>{"ERROR: Instrument failed to initialise"});
  EXPECT_TRUE(run.progress.sending.empty());
  EXPECT_EQ(testing::Occurrences(run.Sent(), "C7D2z\n"), 2u);
  EXPECT_EQ(run.Sent().find('x'), std::string::npos);  // nothing erased
}

TEST_F(UpgradeWorkerTest, ThreadRunsTheWorkerOnlyOnALinkNobodyElseHolds) {
  run_.Add(0, "a.hex", sim::MakeHexRecord(1, 0, "") + "\n").listed = true;
  UpgradeWorkerThread worker;
  // Not while others may use the link.
  EXPECT_FALSE(worker.Start(run_.descriptor, run_.link, run_.progress));
  const LinkLease lease = run_.link.Lease();
  ASSERT_TRUE(lease);
  EXPECT_FALSE(run_.link.Lease());  // one holder at a time
  ASSERT_TRUE(worker.Start(run_.descriptor, run_.link, run_.progress));
  EXPECT_FALSE(worker.Start(run_.descriptor, run_.link, run_.progress));
  worker.Join();
  EXPECT_EQ(run_.progress.finished, 1);
}

// The program's sector codes are those the loader knows; its replies count
// as ok in any case, and only whole.
TEST(BootProtocol, SectorCodesAndOkReplies) {
  for (std::size_t i = 0; i < kSectorCodeTable.size(); ++i) {
    EXPECT_EQ(sim::SectorOfCode(kSectorCodeTable[i].substr(0, 5)), static_cast<int>(i));
  }
  for (const char* ok : {"ok", "OK", "Ok", "ERR xok", "oK"}) EXPECT_TRUE(IsOkReply(ok)) << ok;
  for (const char* bad : {"", "k", "ok ", "ERR retry", "okay"}) EXPECT_FALSE(IsOkReply(bad)) << bad;
}

TEST(TextModeReader, ReadsAsWindowsTextModeDoes) {
  TextModeReader reader("a\r\nb\rc\n\r\r\nlast\032after");  // \032: the end-of-file byte
  std::string line;
  std::vector<std::string> lines;
  while (reader.ReadLine(line, 510)) lines.push_back(line);
  EXPECT_EQ(lines, (std::vector<std::string>{"a\n", "b\rc\n", "\r\n", "last"}));
  TextModeReader pieces(std::string(7, 'x') + "\n");
  std::vector<std::string> parts;
  while (pieces.ReadLine(line, 3)) parts.push_back(line);
  EXPECT_EQ(parts, (std::vector<std::string>{"xxx", "xxx", "x\n"}));
}

}  // namespace
}  // namespace parlex2
