// The upgrade's model and version checks as one pure function: which
// firmware suits which instrument, and which table a version chooses.
#include "upgrade/upgrade_checks.h"

#include <gtest/gtest.h>

#include "connect/model_table.h"

namespace parlex2 {
namespace {

struct Condition {
  VersionTest test;
  std::int32_t reference;
};

constexpr Condition kNone{VersionTest::NoCondition, 0};

struct Case {
  const char* what;
  const char* target;
  Condition first;
  Condition second;
  bool detected;
  const char* idn;
  const char* version;
  FirmwareVerdict verdict;
  int table;
};

TEST(UpgradeChecks, FirmwareSuitsTheInstrumentAsTheTableSays) {
  using V = FirmwareVerdict;
  using T = VersionTest;
  const Case cases[] = {
      {"same known model", "VXM66", kNone, kNone, true, "Veltmark,VXM66,1,1", "", V::Suits, 0},
      {"another known model", "VXM26", kNone, kNone, true, "Veltmark,VXM66,1,1", "",
       V::ModelMismatch, -1},
      {"known model, not detected", "VXM66", kNone, kNone, false, "Veltmark,VXM66,1,1", "",
       V::ModelMismatch, -1},
      {"no target (main hex)", "", kNone, kNone, true, "Veltmark,VXM66,1,1", "", V::ModelMismatch,
       -1},
      // Neither model is in the table: both are 0, and only the same name
      // is the same instrument.
      {"unknown against another unknown", "BAR9", kNone, kNone, true, "Veltmark,FOO1,123,1.0", "",
       V::ModelMismatch, -1},
      {"unknown against the same unknown", "foo1", kNone, kNone, true, "Veltmark,FOO1,123,1.0", "",
       V::Suits, 0},
      {"unknown against an unidentified instrument", "FOO1", kNone, kNone, true, "", "",
       V::ModelMismatch, -1},
      {"empty against an unidentified instrument", "", kNone, kNone, true, "", "", V::ModelMismatch,
       -1},
      {"unknown name prefix is not the name", "FOO", kNone, kNone, true, "Veltmark,FOO1,1,1", "",
       V::ModelMismatch, -1},
      {"J7B accessory on a J7B39", "J7Bxx", kNone, kNone, false, "Veltmark,J7B39,1,1", "", V::Suits,
       0},
      {"J7B accessory on a VXM66", "J7Bxx", kNone, kNone, true, "Veltmark,VXM66,1,1", "",
       V::ModelMismatch, -1},
      {"HLTB family", "HLTB26", kNone, kNone, false, "Veltmark,HLTB63,1,1", "", V::Suits, 0},
      {"version at least 200, has 150",
       "VXM66",
       {T::GreaterOrEqual, 200},
       kNone,
       true,
       "Veltmark,VXM66,1,1",
       "V,150",
       V::Incompatible,
       -1},
      {"version at least 200, has 250",
       "VXM66",
       {T::GreaterOrEqual, 200},
       kNone,
       true,
       "Veltmark,VXM66,1,1",
       "V,250",
       V::Suits,
       0},
      {"second condition chooses the second table",
       "VXM66",
       {T::Greater, 200},
       {T::Equal, 150},
       true,
       "Veltmark,VXM66,1,1",
       "V,150",
       V::Suits,
       1},
      {"second condition unusable",
       "VXM66",
       {T::Greater, 200},
       {T::Unusable, 0},
       true,
       "Veltmark,VXM66,1,1",
       "V,150",
       V::NoUsableTarget,
       -1},
      {"first unusable, second false",
       "VXM66",
       {T::Unusable, 0},
       {T::Less, 100},
       true,
       "Veltmark,VXM66,1,1",
       "V,150",
       V::Incompatible,
       -1},
      {"version reply without a comma",
       "VXM66",
       {T::Less, 200},
       kNone,
       true,
       "Veltmark,VXM66,1,1",
       "V150",
       V::VersionUnreadable,
       -1},
      {"version reply from nobody",
       "VXM66",
       {T::Less, 200},
       kNone,
       true,
       "Veltmark,VXM66,1,1",
       "",
       V::VersionUnreadable,
       -1},
  };
  for (const Case& c : cases) {
    UpgradeDescriptor d;
    d.targetModel = c.target;
    d.versionTest = {c.first.test, c.second.test};
    d.versionReference = {c.first.reference, c.second.reference};
    const std::int32_t number = LookupModel(ConnectedModelText(c.idn));
    const FirmwareCheck check = CheckFirmware(d, {c.detected, number, c.idn, c.version});
    EXPECT_EQ(check.verdict, c.verdict) << c.what;
    EXPECT_EQ(check.table, c.table) << c.what;
  }
}

// A bootcode instrument takes any firmware, without a version check.
TEST(UpgradeChecks, BootcodeInstrumentTakesAnyFirmware) {
  UpgradeDescriptor d;
  d.versionTest = {VersionTest::Unusable, VersionTest::NoCondition};
  for (const char* target : {"", "VXM26", "BAR9"}) {
    d.targetModel = target;
    const FirmwareCheck check =
        CheckFirmware(d, {false, kModelBootcode, "VXMBOOT:    32 32 32 32", ""});
    EXPECT_EQ(check.verdict, FirmwareVerdict::Suits) << target;
    EXPECT_EQ(check.table, 0);
  }
}

TEST(UpgradeChecks, MismatchMessageNamesBothModelsOrUnknownModel) {
  EXPECT_EQ(ModelMismatchMessage("VXM26", "Veltmark,VXM66,1,1"),
            "The upgrade file is for a VXM26. You are connected to a VXM66\n\nPlease ensure the "
            "firmware file name and target instrument model match before continuing\n");
  EXPECT_EQ(ModelMismatchMessage("", "").substr(0, 66),
            "The upgrade file is for a Unknown Model. You are connected to a Un");
  EXPECT_EQ(ModelMismatchMessage("%s", "M,%s,1").substr(0, 52),
            "The upgrade file is for a %s. You are connected to a");
}

}  // namespace
}  // namespace parlex2
