// The main-hex route and the Proposed Operation list.
#include <gtest/gtest.h>

#include "support/recording_ui.h"
#include "support/upgrade_support.h"
#include "upgrade/firmware_list.h"
#include "upgrade/firmware_list_rtf.h"
#include "upgrade/firmware_list_text.h"
#include "upgrade/main_hex_route.h"
#include "upgrade/upgrade_descriptor.h"
#include "upgrade/upgrade_worker.h"

namespace parlex2 {
namespace {

using testing::ListFinder;
using testing::RecordingUi;

std::string In(const std::string& name) { return testing::kBenchDir + name; }

TEST(MainHexUpgrade, CompanionFilesAreNamedFromTheSuffix) {
  RecordingUi ui;
  ListFinder finder;
  finder.Add(In("DSP_V2.HEX"));
  finder.Add(In("FPG_V2.HEX"));
  finder.Add(In("A1_V2.HEX"));
  LoadTable table;
  bool blocked = false;
  ASSERT_EQ(PrepareMainHexUpgrade(ui, In("A1_V2.HEX"), finder, table, 50, blocked), 3);
  const auto fields = [](const LoadEntry& e) {  // path, sector, found, file name
    return std::tuple(e.path, e.sector, e.found, e.fileInfo.name);
  };
  EXPECT_EQ(fields(table.entries[0]), std::tuple(In("DSP_V2.HEX"), 2, true, "DSP_V2.HEX"));
  EXPECT_EQ(fields(table.entries[1]), std::tuple(In("FPG_V2.HEX"), 1, true, "FPG_V2.HEX"));
  EXPECT_EQ(fields(table.entries[2]), std::tuple(In("A1_V2.HEX"), 0, true, "A1_V2.HEX"));
  EXPECT_FALSE(blocked);
  EXPECT_TRUE(ui.messages.empty());

  // SQ and PC mains have no FPG file; a missing companion blocks, listed by
  // the name that was looked for.
  LoadTable pc;
  ASSERT_EQ(PrepareMainHexUpgrade(ui, In("pc_V2.HEX"), finder, pc, 50, blocked), 2);
  EXPECT_EQ(fields(pc.entries[1]), std::tuple(In("pc_V2.HEX"), 0, false, "pc_V2.HEX"));
  EXPECT_TRUE(blocked);

  for (const char* bad : {"1A_V2.HEX", "AB-V2.HEX", "A_.HEX", ""}) {
    ui.messages.clear();
    LoadTable t;
    EXPECT_EQ(PrepareMainHexUpgrade(ui, In(bad), finder, t, 50, blocked), -1) << bad;
    EXPECT_EQ(ui.messages.size(), 1u);  // its text is the command's refusal
  }
  // Without a folder the companions are looked for beside it, not at the root.
  LoadTable bare;
  PrepareMainHexUpgrade(ui, "SQ_1.hex", finder, bare, 50, blocked);
  EXPECT_EQ(bare.entries[0].path, "DSP_1.hex");
}

LoadEntry Entry(int sector, const char* name, bool found = true, std::int64_t time = 0,
                std::int32_t serialLow = 0, std::int32_t serialHigh = 0) {
  LoadEntry e;
  e.sector = sector;
  e.found = found;
  e.fileInfo.name = name;
  e.fileInfo.writeTime = time;
  e.serialLow = serialLow;
  e.serialHigh = serialHigh;
  return e;
}

// Texts from the instrument and the files are escaped where they land; a
// leading digit would run into the colour word before it.
TEST(FirmwareList, DocumentFollowsTheTemplateExactly) {
  LoadTable table;
  table.entries[0] = Entry(0, "Main_Firmware_File_Long.HEX");
  table.entries[1] = Entry(0, "1a_v2.hex", false);
  table.entries[2] = Entry(9, "{\\b1}x\xE9.hex");
  bool blocked = false;
  auto rtf = BuildFirmwareFileList(table, 3, "M\\k{r},VXM66,1}\\par{", "VXM66", blocked);
  ASSERT_TRUE(rtf);
  const std::string expected =
      R"({\rtf1\ansi\ansicpg1252\deff0\deflang2057{\fonttbl{\f0\fswiss\fcharset0 Courier New;}})"
      R"({\colortbl ;\red0\green0\blue0;\red0\green192\blue0;\red255\green0\blue0;\red127\green127\blue127;})"
      R"(\deftab1000\viewkind4\uc1\ul\pard\cf4\b\f0\fs20 Proposed Operation\par\fs20\ulnone\b0\par)"
      R"(\cf4 Instrument: \cf0 M\\k\{r\},VXM66,1\}\\par\{\par\cf4 Target: \cf0 VXM66\par)"
      R"(\cf4 Erase Sectors: \cf0 0,\cf3 9,\par\cf0\par\cf4 Program Sectors with the following code:\par)"
      R"(\cf0\par\cf4 File Sector Filename            Date & Time\par)"
      R"(\cf0 1    0      \cf0main_firmware_file_l\cf0 --/--/--\par)"
      R"(\cf0 2    0      \cf3\'31a_v2.hex           \cf0 --/--/--\par)"
      R"(\cf0 3    9      \cf0\{\\b1\}x\'e9.hex         \cf0 --/--/--\par})";
  EXPECT_EQ(*rtf, expected);
  EXPECT_TRUE(blocked);
  EXPECT_EQ(table.entries[0].fileInfo.name, "main_firmware_file_long.hex");
  rtf = BuildFirmwareFileList(table, 3, "", "VX{M}66", blocked);
  EXPECT_NE(rtf->find(R"(\cf4 Target: \cf0 VX\{M\}66\par)"), std::string::npos) << *rtf;
}

TEST(FirmwareList, SerialRangesHideRowsByTheSerialNumber) {
  const auto rows = [](const char* idn) {
    LoadTable table;
    table.entries[0] = Entry(0, "all.hex");
    table.entries[1] = Entry(1, "early.hex", true, 0, 100, 200);
    table.entries[2] = Entry(2, "late.hex", true, 0, 300);
    table.entries[3] = Entry(1, "early2.hex", true, 0, 100, 200);
    bool blocked = false;
    FirmwareList list = BuildFirmwareList(table, 4, idn, "VXM66", blocked);
    std::string text;
    for (const auto& row : list.rows) text += std::to_string(row.number) + row.name + " ";
    for (const auto& s : list.eraseSectors) text.append("e").append(std::to_string(s.sector));
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
  EXPECT_TRUE(blocked);  // the family admits 15, the loader has no code
  EXPECT_EQ(list.rows[0].date, "--/--/--");
  EXPECT_EQ(list.rows[1].date.size(), 14u);  // a date and time, not "--/--/--"
  const std::string plain = FirmwareListText(list, false);
  EXPECT_NE(plain.find("Erase Sectors: 15 (cannot be written), 3,\n"), std::string::npos) << plain;
  EXPECT_NE(plain.find("2    3      new.hex              "), std::string::npos) << plain;
}

// Whatever keeps the list from being accepted is shown in red: rows and the
// sectors to erase for what is listed, a note for everything else the
// descriptor holds.
TEST(FirmwareList, EveryReasonThatBlocksAcceptIsShownInRed) {
  const auto Note = [](int line, int sector, const char* why) {
    return "Line " + std::to_string(line) + " names sector " + std::to_string(sector) +
           ", which this model does not have (" + why + ")";
  };
  struct Case {
    const char* descriptor;
    int selected;
    std::string note;  // "": none
    bool blocked;
  };
  const Case cases[] = {
      {"TARGET,VXM66\nLOAD,0,a.hex\n", 0, "", false},
      {"TARGET,VXM66\nLOAD,9,a.hex\n", 0, "", true},  // red among the sectors to erase
      {"TARGET,VXM66\nLOAD,0,a.hex\nLOAD,9\n", 0, Note(3, 9, "the line has no file name"), true},
      {"TARGET,VXM66\nLOAD,0,a.hex\nSERIAL,1,500,0\nLOAD,9,b.hex\n", 0,
       Note(4, 9, "an entry for other serial numbers"), true},
      {"TARGET,VXM66,200,gt,x\nLOAD,0,a.hex\nLOAD,9,b.hex\nTARGET,VXM66,150,eq,x\nLOAD,1,c.hex\n",
       1, Note(3, 9, "an entry for another instrument version"), true},
      {"TARGET,VXM66\nLOAD,0,a.hex\nOVER,9,b.hex\n", 0, "Sector 9 cannot be written on this model",
       true},
      {"LOAD,8,a.hex\nTARGET,J7Bxx\n", 0, Note(1, 8, "read before the TARGET line that admits it"),
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.descriptor);
    auto p = testing::Parse(c.descriptor);
    LoadTable& table = p->tables[c.selected];
    FirmwareList list = BuildFirmwareList(table, p->d.entryCount[c.selected],
                                          "Veltmark,VXM66,150,1", p->d.targetModel, p->blocked);
    AddBlockingNotes(list, p->d, c.selected, table, p->blocked);
    EXPECT_EQ(list.notes, c.note.empty() ? std::vector<std::string>{} : std::vector{c.note});
    EXPECT_EQ(p->blocked, c.blocked);
    if (!c.note.empty()) {
      EXPECT_NE(FirmwareListRtf(list).find("\\cf3 " + c.note + "\\cf0\\par}"), std::string::npos);
      EXPECT_NE(FirmwareListText(list, false).find(c.note + "\n"), std::string::npos);
    }
  }
}

TEST(FirmwareList, PercentDoneExamples) {
  const int cases[][3] = {{3, 1, 34},  {3, 3, 100}, {2, 1, 51},         {40000000, 30000000, 76},
                          {100, 0, 1}, {0, 0, 100}, {0, 25000000, 100}, {50, 25000000, 100}};
  for (const auto& [total, done, percent] : cases) {
    EXPECT_EQ(PercentDone(total, done), percent) << total << " " << done;
  }
}

}  // namespace
}  // namespace parlex2
