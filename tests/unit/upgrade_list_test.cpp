// The main-hex route and the Proposed Operation list.
#include <gtest/gtest.h>

#include "support/recording_ui.h"
#include "support/upgrade_support.h"
#include "upgrade/firmware_list.h"
#include "upgrade/upgrade_worker.h"

namespace parlex2 {
namespace {

using testing::ListFinder;
using testing::RecordingUi;

#ifdef _WIN32
constexpr char kDir[] = "C:\\fw";
constexpr char kSep[] = "\\";
#else
constexpr char kDir[] = "/fw";
constexpr char kSep[] = "/";
#endif

std::string In(const std::string& name) { return std::string(kDir) + kSep + name; }

TEST(MainHexUpgrade, CompanionFilesAreNamedFromTheSuffix) {
  RecordingUi ui;
  ListFinder finder;
  finder.Add(In("DSP_V2.HEX"));
  finder.Add(In("FPG_V2.HEX"));
  finder.Add(In("A1_V2.HEX"));
  LoadTable table;
  bool blocked = false;
  ASSERT_EQ(PrepareMainHexUpgrade(ui, In("A1_V2.HEX"), finder, table, 50, blocked), 3);
  EXPECT_EQ(table.entries[0].path, In("DSP_V2.HEX"));
  EXPECT_EQ(table.entries[0].sector, 2);
  EXPECT_EQ(table.entries[1].path, In("FPG_V2.HEX"));
  EXPECT_EQ(table.entries[1].sector, 1);
  EXPECT_EQ(table.entries[2].path, In("A1_V2.HEX"));
  EXPECT_EQ(table.entries[2].sector, 0);
  EXPECT_TRUE(table.entries[2].found);
  EXPECT_FALSE(blocked);
  EXPECT_TRUE(ui.messages.empty());

  // SQ and PC mains have no FPG file; a missing companion blocks, listed by
  // the name that was looked for.
  LoadTable pc;
  ASSERT_EQ(PrepareMainHexUpgrade(ui, In("pc_V2.HEX"), finder, pc, 50, blocked), 2);
  EXPECT_EQ(pc.entries[1].path, In("pc_V2.HEX"));
  EXPECT_FALSE(pc.entries[1].found);
  EXPECT_EQ(pc.entries[1].fileInfo.name, "pc_V2.HEX");
  EXPECT_TRUE(blocked);

  for (const char* bad : {"1A_V2.HEX", "AB-V2.HEX", "A_.HEX", ""}) {
    ui.messages.clear();
    LoadTable t;
    EXPECT_EQ(PrepareMainHexUpgrade(ui, In(bad), finder, t, 50, blocked), -1) << bad;
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "Please choose the main hex file for the Instrument to upgrade");
    EXPECT_EQ(ui.messages[0].caption, "Upgrade Firmware");
  }
  // Without a folder the companions are looked for beside it, not at the root.
  LoadTable bare;
  PrepareMainHexUpgrade(ui, "SQ_1.hex", finder, bare, 50, blocked);
  EXPECT_EQ(bare.entries[0].path, "DSP_1.hex");
}

LoadEntry Entry(int sector, const char* name, bool found = true, std::int64_t time = 0) {
  LoadEntry e;
  e.sector = sector;
  e.found = found;
  e.fileInfo.name = name;
  e.fileInfo.writeTime = time;
  return e;
}

TEST(FirmwareList, DocumentFollowsTheTemplateExactly) {
  LoadTable table;
  table.entries[0] = Entry(0, "Main_Firmware_File_Long.HEX");
  table.entries[1] = Entry(0, "b.hex", false);
  table.entries[2] = Entry(9, "c.hex");
  bool blocked = false;
  auto rtf = BuildFirmwareFileList(table, 3, "Veltmark,VXM66,10472,2.15", "VXM66", blocked);
  ASSERT_TRUE(rtf);
  const std::string expected =
      R"({\rtf1\ansi\ansicpg1252\deff0\deflang2057{\fonttbl{\f0\fswiss\fcharset0 Courier New;}})"
      R"({\colortbl ;\red0\green0\blue0;\red0\green192\blue0;\red255\green0\blue0;\red127\green127\blue127;})"
      R"(\deftab1000\viewkind4\uc1\ul\pard\cf4\b\f0\fs20 Proposed Operation\par\fs20\ulnone\b0\par)"
      R"(\cf4 Instrument: \cf0 Veltmark,VXM66,10472,2.15\par\cf4 Target: \cf0 VXM66\par)"
      R"(\cf4 Erase Sectors: \cf0 0,\cf3 9,\par\cf0\par\cf4 Program Sectors with the following code:\par)"
      R"(\cf0\par\cf4 File Sector Filename            Date & Time\par)"
      R"(\cf0 1    0      \cf0main_firmware_file_l\cf0 --/--/--\par)"
      R"(\cf0 2    0      \cf3b.hex               \cf0 --/--/--\par)"
      R"(\cf0 3    9      \cf0c.hex               \cf0 --/--/--\par})";
  EXPECT_EQ(*rtf, expected);
  EXPECT_TRUE(blocked);
  EXPECT_EQ(table.entries[0].fileInfo.name, "main_firmware_file_long.hex");
}

TEST(FirmwareList, TextsFromInstrumentAndFilesCannotBreakTheDocument) {
  LoadTable table;
  table.entries[0] = Entry(1, "{\\b1}x\xE9.hex");
  table.entries[1] = Entry(2, "1a_v2.hex");
  bool blocked = false;
  auto rtf = BuildFirmwareFileList(table, 2, "M\\k{r},VXM66,1}\\par{", "VX{M}66", blocked);
  ASSERT_TRUE(rtf);
  EXPECT_NE(rtf->find(R"(\cf0 M\\k\{r\},VXM66,1\}\\par\{\par)"), std::string::npos);
  EXPECT_NE(rtf->find(R"(\cf0 VX\{M\}66\par)"), std::string::npos);
  EXPECT_NE(rtf->find(R"(\cf0\{\\b1\}x\'e9.hex)"), std::string::npos);
  // A leading digit would run into the colour word before it.
  EXPECT_NE(rtf->find(R"(\cf0\'31a_v2.hex)"), std::string::npos);
  // Braces balance: every { the texts brought is escaped.
  int depth = 0;
  for (std::size_t i = 0; i < rtf->size(); ++i) {
    if ((*rtf)[i] == '\\') {
      ++i;
      continue;
    }
    depth += (*rtf)[i] == '{' ? 1 : (*rtf)[i] == '}' ? -1 : 0;
    ASSERT_GE(depth, 0);
  }
  EXPECT_EQ(depth, 0);
}

TEST(FirmwareList, SerialRangesHideRowsByTheSerialNumber) {
  const auto rows = [](const char* idn) {
    LoadTable table;
    table.entries[0] = Entry(0, "all.hex");
    table.entries[1] = Entry(1, "early.hex");
    table.entries[1].serialLow = 100;
    table.entries[1].serialHigh = 200;
    table.entries[2] = Entry(2, "late.hex");
    table.entries[2].serialLow = 300;
    table.entries[3] = Entry(1, "early2.hex");
    table.entries[3].serialLow = 100;
    table.entries[3].serialHigh = 200;
    bool blocked = false;
    FirmwareList list = BuildFirmwareList(table, 4, idn, "VXM66", blocked);
    std::string text;
    for (const auto& row : list.rows) text += std::to_string(row.number) + row.name + " ";
    for (const auto& s : list.eraseSectors) text += "e" + std::to_string(s.sector);
    std::string listedFlags;
    for (int i = 0; i < 4; ++i) listedFlags += table.entries[i].listed ? '1' : '0';
    return text + " " + listedFlags;
  };
  // The serial number is field 2 of the identity, not the model field.
  EXPECT_EQ(rows("Veltmark,VXM66,150,2.15"), "1all.hex 2early.hex 4early2.hex e0e1 1101");
  EXPECT_EQ(rows("Veltmark,VXM66,350,2.15"), "1all.hex 3late.hex e0e2 1010");
  EXPECT_EQ(rows("Veltmark,12345,50,2.15"), "1all.hex e0 1000");
  // Without a serial number nothing is hidden.
  for (const char* idn : {"Veltmark,VXM66", "VXMBOOT:    32 32 32 32", "Veltmark,VXM66,,1",
                          "Veltmark,VXM66,AB12,1"}) {
    EXPECT_EQ(rows(idn), "1all.hex 2early.hex 3late.hex 4early2.hex e0e1e2 1111") << idn;
  }
}

TEST(FirmwareList, SectorsWithoutAccessCodeAndOldFileTimesAreShownAsSuch) {
  LoadTable table;
  table.entries[0] = Entry(15, "big.hex", true, 86400);
  table.entries[1] = Entry(3, "new.hex", true, 86401);
  bool blocked = false;
  FirmwareList list = BuildFirmwareList(table, 2, "Veltmark,VXM86,1,1", "VXM86xx", blocked);
  ASSERT_EQ(list.eraseSectors.size(), 2u);
  EXPECT_FALSE(list.eraseSectors[0].allowed);  // the family admits 15, the loader has no code
  EXPECT_TRUE(blocked);
  EXPECT_EQ(list.rows[0].date, "--/--/--");
  EXPECT_NE(list.rows[1].date, "--/--/--");
  EXPECT_EQ(list.rows[1].date.size(), 14u);
  const std::string plain = FirmwareListText(list, false);
  EXPECT_NE(plain.find("Erase Sectors: 15 (cannot be written), 3,"), std::string::npos) << plain;
  EXPECT_NE(plain.find("2    3      new.hex              "), std::string::npos) << plain;
}

TEST(FirmwareList, PercentDoneExamples) {
  EXPECT_EQ(PercentDone(3, 1), 34);
  EXPECT_EQ(PercentDone(3, 3), 100);
  EXPECT_EQ(PercentDone(2, 1), 51);
  EXPECT_EQ(PercentDone(40000000, 30000000), 76);
  EXPECT_EQ(PercentDone(100, 0), 1);
  EXPECT_EQ(PercentDone(0, 0), 100);
  EXPECT_EQ(PercentDone(0, 25000000), 100);
  EXPECT_EQ(PercentDone(50, 25000000), 100);
}

}  // namespace
}  // namespace parlex2
