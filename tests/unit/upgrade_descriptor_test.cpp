// Reading upgrade descriptors: keywords, fields, families, serial ranges, the
// two conditional tables, and input that makes no sense.
#include "upgrade/upgrade_descriptor.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "support/upgrade_support.h"

namespace parlex2 {
namespace {

using testing::kBenchDir;
using testing::ListFinder;
using testing::Parse;

// Keywords count only at the start of a line, in capitals or in lower case;
// a TARGET line sets the condition of the table and the family whose
// sectors are allowed.
TEST(UpgradeDescriptor, EachLineIsReadByItsKeyword) {
  using T = VersionTest;
  struct Case {
    const char* text;
    int entries;
    VersionTest test = T::NoCondition;
    bool blocked = false;
  };
  const Case cases[] = {
      {"LOAD,0,a.hex", 1},
      {"load,0,a.hex", 1},
      {"LOADER,0,a.hex", 1},     // a prefix is enough
      {"Load,0,a.hex", 0},       // mixed case is no keyword
      {" LOAD,0,a.hex", 0},      // not in column 1
      {"; LOAD,0,a.hex", 0},     // a comment
      {"load,0,a.hex LOAD", 0},  // the upper-case spelling decides when present
      {"OVER,0,a.hex", 1},
      {"over,0,a.hex", 1},
      {"LOAD", 0},        // no comma
      {"LOAD,   ", 0},    // no sector
      {"LOAD,3", 0},      // no file name
      {"LOAD,3, \t", 0},  // blank file name
      {"TARGET,VXM66\nLOAD,7,a.hex", 1},
      {"TARGET,VXM66\nLOAD,8,a.hex", 1, T::NoCondition, true},
      {"TARGET,J7B39\nLOAD,8,a.hex", 1},
      {"LOAD,8,a.hex\nTARGET,J7B39", 1, T::NoCondition, true},  // family unknown yet
      {"TARGET,VXM86\nLOAD,-1,a.hex", 1, T::NoCondition, true},
      {"TARGET,VXM66,200\nLOAD,0,a.hex", 1, T::Unusable},
      {"TARGET\nLOAD,0,a.hex", 1, T::Unusable},
      {"TARGET,VXM66,200,about\nLOAD,0,a.hex", 1, T::Unusable},
      {"target,VXM66,200,lt\nLOAD,0,a.hex", 1, T::Less},
      {"TARGET,VXM66,200,Gt,\nLOAD,0,a.hex", 1, T::Greater},
      {"TARGET,VXM66,200,lteq\nLOAD,0,a.hex", 1, T::LessOrEqual},
      {"TARGET,VXM66,200,EQ\nLOAD,0,a.hex", 1, T::Equal},
  };
  for (const Case& c : cases) {
    auto p = Parse(c.text);
    EXPECT_EQ(p->result, c.entries) << c.text;
    EXPECT_EQ(p->d.versionTest[0], c.test) << c.text;
    EXPECT_EQ(p->blocked, c.blocked) << c.text;
  }
  auto p = Parse("TARGET, VXM86 xx ,1 2 3, GTEQ ,ignored\nLOAD,15,a.hex");
  EXPECT_EQ(p->d.targetModel, "VXM86xx");
  EXPECT_EQ(p->d.versionReference[0], 123);
  EXPECT_EQ(p->d.versionTest[0], T::GreaterOrEqual);
  EXPECT_FALSE(p->blocked);  // sector 15 is allowed for the VXM86 family
  // A model name longer than the record holds is cut, never overrun.
  auto longName = Parse("TARGET,VXM86ABCDEFGHIJKLMNOPQRSTUVWXYZ\nLOAD,15,a.hex");
  EXPECT_EQ(longName->d.targetModel, "VXM86ABCDEFGHIJKLMNO");
  EXPECT_FALSE(longName->blocked);
}

TEST(UpgradeDescriptor, EntryFieldsKeepTheRestOfTheLineAsTheFileName) {
  auto p = Parse("LOAD, 3 ,\tb.hex \nOVER,\t2,a.hex\nLOAD,1,missing.hex");
  ASSERT_EQ(p->result, 3);
  const auto fields = [&](int i) {  // sector, path, file name, found, over
    const LoadEntry& e = p->tables[0].entries[i];
    return std::tuple(e.sector, e.path, e.fileInfo.name, e.found, e.over);
  };
  const std::string dir = kBenchDir;
  // The trailing blank is kept, so b.hex is not found.
  EXPECT_EQ(fields(0), std::tuple(3, dir + "b.hex ", "b.hex ", false, false));
  EXPECT_EQ(fields(1), std::tuple(2, dir + "a.hex", "a.hex", true, true));
  EXPECT_EQ(fields(2), std::tuple(1, dir + "missing.hex", "missing.hex", false, false));
  // A missing file does not block here; the list does that.
  EXPECT_FALSE(p->blocked);
}

TEST(UpgradeDescriptor, SerialRangesAttachToTheNextCountEntries) {
  auto p = Parse("SERIAL,2,100,200\nLOAD,0,a.hex\nLOAD,1,b.hex\nLOAD,2,c.hex");
  ASSERT_EQ(p->result, 3);
  EXPECT_EQ(p->tables[0].entries[0].serialLow, 100);
  EXPECT_EQ(p->tables[0].entries[1].serialHigh, 200);
  EXPECT_EQ(p->tables[0].entries[2].serialLow, 0);
  EXPECT_EQ(p->tables[0].entries[2].serialHigh, 0);

  for (const char* cancelling :
       {"SERIAL,0,1,2", "SERIAL,10,1,2", "SERIAL,1,-5,2", "SERIAL,1,5", "serial,1,5,6x"}) {
    auto q = Parse(std::string("SERIAL,3,100,200\nLOAD,0,a.hex\n") + cancelling + "\nLOAD,1,b.hex");
    // The lower-case spelling is no SERIAL line, so the old range goes on.
    const bool lowerCase = cancelling[0] == 's';
    EXPECT_EQ(q->tables[0].entries[1].serialLow, lowerCase ? 100 : 0) << cancelling;
  }
}

TEST(UpgradeDescriptor, SecondConditionStartsTheSecondTableAndAThirdIsIgnored) {
  auto p = Parse(
      "TARGET,VXM66,200,gteq\nWARNING,first\nLOAD,0,a.hex\nLOAD,1,b.hex\n"
      "TARGET,VXM66,200,lt\nWARNING,second\nLOAD,2,c.hex\n"
      "TARGET,VXM99,5,eq\nLOAD,3,d.hex");
  EXPECT_EQ(p->d.entryCount, (std::array<int, 2>{2, 2}));
  EXPECT_EQ(p->result, 2);  // the count of the table current at the end
  EXPECT_EQ(p->d.versionTest, (std::array{VersionTest::GreaterOrEqual, VersionTest::Less}));
  EXPECT_EQ(p->d.warningText, (std::array<std::string, 2>{"first", "second"}));
  EXPECT_EQ(p->d.targetModel, "VXM66");  // the third TARGET line changed nothing
  EXPECT_EQ(p->tables[1].entries[1].sector, 3);

  // With the first file missing the second condition replaces the first.
  auto q = Parse("TARGET,VXM66,200,gteq\nLOAD,0,x.hex\nTARGET,VXM66,100,lt\nLOAD,1,a.hex");
  EXPECT_EQ(q->d.entryCount, (std::array<int, 2>{2, 0}));
  EXPECT_EQ(q->result, 2);
  EXPECT_EQ(q->d.versionTest[0], VersionTest::Less);
}

TEST(UpgradeDescriptor, HostileInputIsReadWithoutHarm) {
  // Long lines come in pieces of 259 characters; only a piece that begins
  // with a keyword counts.
  const std::string longName(600, 'n');
  auto p = Parse("LOAD,4," + longName + "\nWARNING," + std::string(400, 'w') + "\n");
  ASSERT_EQ(p->result, 1);
  EXPECT_EQ(p->tables[0].entries[0].fileInfo.name.size(), 259u - 7u);
  EXPECT_EQ(p->d.warningText[0].size(), 259u - 8u);

  // A NUL ends the line's text.
  auto nul = Parse(std::string("LOAD,2,a.hex\0junk\n", 18));
  EXPECT_TRUE(nul->tables[0].entries[0].found);

  // Reading stops at fifty entries.
  std::string sixty;
  for (int i = 0; i < 60; ++i) sixty += "LOAD,0,a.hex\n";
  auto many = Parse(sixty + "TARGET,VXM66\n");
  EXPECT_EQ(many->result, 50);
  EXPECT_EQ(many->d.targetModel, "");  // nothing after the 51st entry line is read
}

// A missing file, a folder and an empty file: no entries, and no hang on a
// stream that cannot be read.
TEST(UpgradeDescriptor, FilesThatCannotBeReadGiveNoEntries) {
  testing::TempFolder dir;
  UpgradeDescriptor d;
  LoadTable tables[2];
  bool blocked = false;
  ListFinder finder;
  for (const std::string& path : {dir.Prefix() + "none.upg", dir.Prefix(), dir.Write("e.upg", "")})
    EXPECT_EQ(ParseUpgradeDescriptor(path, finder, tables, 50, d, blocked), 0) << path;
  const std::string good = dir.Write("good.upg", "LOAD,0,main.hex\n");
  EXPECT_EQ(ParseUpgradeDescriptor(good, finder, tables, 50, d, blocked), 1);
  EXPECT_EQ(tables[0].entries[0].path, dir.Prefix() + "main.hex");
}

TEST(UpgradeDescriptor, DirectoryPartEndsAtThePlatformsSeparators) {
  EXPECT_EQ(DirectoryOf("set.upg"), "");
#ifdef _WIN32
  EXPECT_EQ(DirectoryOf("C:\\fw/sub\\set.upg"), "C:\\fw/sub\\");
  EXPECT_EQ(DirectoryOf("C:\\fw\\sub/set.upg"), "C:\\fw\\sub/");
#else
  EXPECT_EQ(DirectoryOf("/fw/a\\b.upg"), "/fw/");
#endif
}

TEST(UpgradeDescriptor, SystemFinderMatchesNamesWithoutRegardToCase) {
  testing::TempFolder dir;
  dir.Write("Main_V2.HEX", ":00000001FF\n");
  dir.Write("Sub/Dsp.Hex", ":00000001FF\n");
  std::filesystem::create_directory(dir.Prefix() + "folder.hex");
  auto info = SystemFileFinder().Find(dir.Prefix() + "main_v2.hex", nullptr);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->name, "Main_V2.HEX");
  EXPECT_EQ(info->size, 12u);
  EXPECT_TRUE(SystemFileFinder().Find(dir.Prefix() + "SUB\\dsp.hex", nullptr));
  EXPECT_FALSE(SystemFileFinder().Find(dir.Prefix() + "folder.hex", nullptr));
  EXPECT_FALSE(SystemFileFinder().Find(dir.Prefix() + "*.hex", nullptr));
}

}  // namespace
}  // namespace parlex2
