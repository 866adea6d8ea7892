// The upgrade worker against the simulator's instrument, in process: what it
// sends, what it reports, and what ends up in the flash.
#include "upgrade/upgrade_worker.h"

#include <gtest/gtest.h>

#include "sim/boot_loader.h"
#include "sim/intel_hex.h"
#include "support/fake_clock.h"
#include "support/upgrade_support.h"
#include "upgrade/boot_protocol.h"
#include "upgrade/firmware_list.h"

namespace parlex2 {
namespace {

using testing::FakeClock;
using testing::FlashAfter;
using testing::HexFile;
using testing::RecordingProgress;
using testing::SimulatedInstrument;
using testing::TempFolder;

class UpgradeWorkerTest : public ::testing::Test {
 protected:
  UpgradeWorkerTest() { Reset(); }

  // A fresh instrument behind the link, opened over `kind`, an empty table
  // and a new progress sink.
  void Reset(sim::InstrumentConfig config = {}, InterfaceKind kind = InterfaceKind::Usb) {
    link_.Close();
    device_ = SimulatedInstrument(std::move(config));
    device_.Attach(link_);
    link_.settings.interfaceKind = kind;
    EXPECT_EQ(link_.Open(), 0);
    table_ = LoadTable{};
    count_ = 0;
    descriptor_ = UpgradeDescriptor{};
    descriptor_.loadTable = &table_;
    progress_ = std::make_unique<RecordingProgress>();
  }

  void Add(int sector, const std::string& name, const std::string& bytes, bool over = false) {
    LoadEntry& e = table_.entries[count_++];
    e.path = dir_.Write(name, bytes);
    e.sector = sector;
    e.over = over;
    e.found = true;
    e.fileInfo.name = name;
    e.fileInfo.size = static_cast<std::uint32_t>(bytes.size());
  }

  void Run(const char* idn = "Veltmark,VXM86,150,1") {
    bool blocked = false;
    list_ = BuildFirmwareList(table_, count_, idn, "VXM86", blocked);
    device_.peer->written.clear();
    RunUpgradeWorker(descriptor_, link_, *progress_);
  }

  const sim::Flash& Flash() const { return device_.instrument->GetFlash(); }
  std::string Sent() const { return device_.peer->written; }

  FakeClock clock_;
  SimulatedInstrument device_;
  InstrumentLink link_;
  TempFolder dir_;
  LoadTable table_;
  int count_ = 0;
  UpgradeDescriptor descriptor_;
  std::unique_ptr<RecordingProgress> progress_;
  FirmwareList list_;  // what the user accepted
};

TEST_F(UpgradeWorkerTest, TwoSectorsAreErasedProgrammedAndTheInstrumentRestarted) {
  const std::string main = HexFile(1, 40, 0x0000);
  const std::string second = HexFile(2, 10, 0x8000, "\r\n");
  Add(0, "main.hex", main);
  Add(2, "second.hex", second);
  const std::uint64_t start = clock_.TickMs();
  Run();

  EXPECT_TRUE(descriptor_.upgradeSucceeded);
  EXPECT_EQ(progress_->finished, 1);
  EXPECT_EQ(
      progress_->statuses,
      (std::vector<std::string>{"Initialising Instrument", "Erasing sector 0", "Erasing sector 2",
                                "Sending file main.hex", "Sending file second.hex",
                                "Restarting Instrument", "Finished"}));
  EXPECT_EQ(progress_->logs,
            (std::vector<std::string>{"Instrument initialised OK", "All sectors erased OK",
                                      "Firmware sent OK"}));
  // The sending spans both files and ends before the log that says so.
  EXPECT_EQ(progress_->sending, (std::vector<bool>{true, false}));
  EXPECT_EQ(progress_->logsWhenSendingEnded, 2u);
  // Erasing shows 51 then 100; programming climbs back from 0 to 100.
  ASSERT_GE(progress_->percents.size(), 5u);
  EXPECT_EQ(std::vector<int>(progress_->percents.begin(), progress_->percents.begin() + 4),
            (std::vector<int>{0, 51, 100, 0}));
  EXPECT_EQ(progress_->percents.back(), 100);
  for (std::size_t i = 4; i < progress_->percents.size(); ++i) {
    EXPECT_GT(progress_->percents[i], progress_->percents[i - 1]);
  }

  EXPECT_EQ(Flash(), FlashAfter({{0, 1, main}, {2, 1, second}}));
  EXPECT_FALSE(device_.instrument->InBootLoader());
  // Comment lines are read but never sent; a CR LF file sends LF records.
  EXPECT_EQ(Sent().find("; firmware"), std::string::npos);
  EXPECT_EQ(Sent().find("\r\n\r\n"), std::string::npos);
  EXPECT_EQ(Sent().substr(0, 1), std::string(1, kBootWakeByte));
  EXPECT_EQ(Sent().substr(Sent().size() - 3), "z\n\x15");
  // The settling waits: 1 s + 5 s around the wake byte, 0.5 s + 1 s restart.
  EXPECT_GE(clock_.TickMs() - start, 7500u);
}

TEST_F(UpgradeWorkerTest, SectorIsSkippedOnlyWhenEveryEntryNamingItIsOver) {
  const std::string x = HexFile(4, 3, 0x0000);
  const std::string y = HexFile(5, 3, 0x1000);
  const std::string z = HexFile(6, 3, 0x2000);
  const std::string w = HexFile(13, 3, 0x3000);
  Add(1, "patch.hex", x, true);  // sector 1: an OVER ...
  Add(1, "load.hex", y);         // ... and a LOAD: erased
  Add(2, "two.hex", z);
  Add(3, "over.hex", w, true);  // sector 3: OVER only, skipped
  Add(4, "hidden.hex", z);      // sector 4: a LOAD not shown does not count
  table_.entries[4].serialLow = 500;
  Add(4, "over4.hex", w, true);
  Run();
  EXPECT_TRUE(descriptor_.upgradeSucceeded);
  // The hidden entry is neither erased, nor sent, nor named.
  EXPECT_EQ(progress_->statuses,
            (std::vector<std::string>{
                "Initialising Instrument", "Erasing sector 1", "Erasing sector 2",
                "Skipping sector 3", "Skipping sector 4", "Sending file patch.hex",
                "Sending file load.hex", "Sending file two.hex", "Sending file over.hex",
                "Sending file over4.hex", "Restarting Instrument", "Finished"}));
  // Both files of sector 1 were programmed, each after its own access code.
  EXPECT_EQ(Flash(), FlashAfter({{1, 1, x}, {1, 0, y}, {2, 1, z}, {3, 0, w}, {4, 0, w}}));
  // The list named exactly the sectors that were erased.
  std::vector<int> listed;
  for (const FirmwareListSector& s : list_.eraseSectors) listed.push_back(s.sector);
  EXPECT_EQ(listed, (std::vector<int>{1, 2}));
}

// With every entry hidden there is nothing to write: the boot loader is not
// woken and the instrument not restarted.
TEST_F(UpgradeWorkerTest, NothingIsSentWhenEveryEntryIsHidden) {
  Add(0, "all.hex", HexFile(7, 3, 0));
  table_.entries[0].serialLow = 500;  // not for serial 150
  Run("Veltmark,VXM86,150,1");
  EXPECT_EQ(Sent(), "");
  EXPECT_FALSE(descriptor_.upgradeSucceeded);
  EXPECT_EQ(progress_->logs, std::vector<std::string>{"ERROR: No firmware file to send"});
}

TEST_F(UpgradeWorkerTest, SectorWithoutAccessCodeIsRefusedBeforeAnythingIsSent) {
  Add(0, "main.hex", HexFile(9, 3, 0));
  Add(15, "big.hex", HexFile(10, 3, 0));
  Run();
  EXPECT_FALSE(descriptor_.upgradeSucceeded);
  EXPECT_EQ(progress_->finished, 1);
  EXPECT_EQ(Sent(), "");
  ASSERT_EQ(progress_->logs.size(), 1u);
  EXPECT_EQ(progress_->logs[0], "ERROR: Sector 15 cannot be written (no access code)");
  EXPECT_TRUE(ExchangeSectorCode(link_, 15));  // fails, and sends nothing either
  EXPECT_EQ(Sent(), "");
}

TEST_F(UpgradeWorkerTest, FilesThatCannotBeSentFailTheirEntry) {
  // A record line longer than the worker reads at once goes out cut and is
  // refused; a file gone since it was listed cannot be opened.
  const std::string longRecord = ":" + std::string(600, 'A') + "\n";
  Add(0, "long.hex", longRecord);
  Run();
  EXPECT_FALSE(descriptor_.upgradeSucceeded);
  EXPECT_EQ(progress_->logs.back(), "ERROR: Failed to send file long.hex");
  EXPECT_NE(Sent().find(":" + std::string(509, 'A') + "\r\n"), std::string::npos);
  EXPECT_EQ(Sent().find(std::string(510, 'A')), std::string::npos);

  Reset();
  Add(0, "gone.hex", HexFile(11, 2, 0));
  std::filesystem::remove(table_.entries[0].path);
  Run();
  EXPECT_EQ(progress_->logs.back(), "ERROR: Failed to send file gone.hex");
}

TEST_F(UpgradeWorkerTest, RecordIsSentFourTimesAtMost) {
  for (int times : {3, 4}) {
    SCOPED_TRACE(times);
    sim::InstrumentConfig config;
    config.refusals = {{2, times}};
    config.ok = "OK";
    Reset(config, InterfaceKind::Lan);
    Add(0, "f.hex", HexFile(12, 4, 0));
    Run();
    EXPECT_EQ(descriptor_.upgradeSucceeded, times == 3);
    if (times == 4) {
      EXPECT_EQ(progress_->logs.back(), "ERROR: Failed to send file f.hex");
      EXPECT_EQ(progress_->sending, (std::vector<bool>{true, false}));
      EXPECT_EQ(progress_->logsWhenSendingEnded, progress_->logs.size() - 1);
      EXPECT_EQ(Sent().find(kRestartByte), std::string::npos);  // not restarted
    }
  }
}

TEST_F(UpgradeWorkerTest, BootAccessIsTriedTwice) {
  sim::InstrumentConfig config;
  config.muteAfter = 0;  // the loader never answers
  Reset(config);
  Add(0, "a.hex", HexFile(14, 2, 0));
  Run();
  EXPECT_EQ(progress_->logs, std::vector<std::string>{"ERROR: Instrument failed to initialise"});
  EXPECT_TRUE(progress_->sending.empty());
  EXPECT_EQ(testing::Occurrences(Sent(), "C7D2z\n"), 2u);
  EXPECT_EQ(Sent().find('x'), std::string::npos);  // nothing erased
}

TEST_F(UpgradeWorkerTest, ThreadRunsTheWorkerOnlyOnALinkNobodyElseHolds) {
  Add(0, "a.hex", sim::MakeHexRecord(1, 0, "") + "\n");
  table_.entries[0].listed = true;
  UpgradeWorkerThread worker;
  EXPECT_FALSE(worker.Start(descriptor_, link_, *progress_));  // not while others may use the link
  const LinkLease lease = link_.Lease();
  ASSERT_TRUE(lease);
  EXPECT_FALSE(link_.Lease());  // one holder at a time
  ASSERT_TRUE(worker.Start(descriptor_, link_, *progress_));
  EXPECT_FALSE(worker.Start(descriptor_, link_, *progress_));
  worker.Join();
  EXPECT_EQ(progress_->finished, 1);
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
