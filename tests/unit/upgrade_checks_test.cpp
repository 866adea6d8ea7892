// The upgrade's model and version checks as one pure function: which
// firmware suits which instrument, and which table a version chooses.
#include "upgrade/upgrade_checks.h"

#include <gtest/gtest.h>

#include "connect/model_table.h"

namespace parlex2 {
namespace {

constexpr char kVxm66[] = "Veltmark,VXM66,1,1";

TEST(UpgradeChecks, FirmwareSuitsTheInstrumentOfItsModel) {
  using V = FirmwareVerdict;
  struct Case {
    const char* what;
    const char* target;
    bool detected;
    const char* idn;
    FirmwareVerdict verdict;
  };
  const Case cases[] = {
      {"same known model", "VXM66", true, kVxm66, V::Suits},
      {"another known model", "VXM26", true, kVxm66, V::ModelMismatch},
      {"known model, not detected", "VXM66", false, kVxm66, V::ModelMismatch},
      {"no target (main hex)", "", true, kVxm66, V::ModelMismatch},
      // Neither model is in the table: both are 0, and only the same name
      // is the same instrument.
      {"unknown against another unknown", "BAR9", true, "Veltmark,FOO1,123,1.0", V::ModelMismatch},
      {"unknown against the same unknown", "foo1", true, "Veltmark,FOO1,123,1.0", V::Suits},
      {"unknown against an unidentified instrument", "FOO1", true, "", V::ModelMismatch},
      {"empty against an unidentified instrument", "", true, "", V::ModelMismatch},
      {"unknown name prefix is not the name", "FOO", true, "Veltmark,FOO1,1,1", V::ModelMismatch},
      {"J7B accessory on a J7B39", "J7Bxx", false, "Veltmark,J7B39,1,1", V::Suits},
      {"J7B accessory on a VXM66", "J7Bxx", true, kVxm66, V::ModelMismatch},
      {"HLTB family", "HLTB26", false, "Veltmark,HLTB63,1,1", V::Suits},
  };
  for (const Case& c : cases) {
    UpgradeDescriptor d;
    d.targetModel = c.target;
    const std::int32_t number = LookupModel(ConnectedModelText(c.idn));
    const FirmwareCheck check = CheckFirmware(d, {c.detected, number, c.idn, ""});
    EXPECT_EQ(check.verdict, c.verdict) << c.what;
    EXPECT_EQ(check.table, c.verdict == V::Suits ? 0 : -1) << c.what;
  }
}

// The version conditions of a VXM66 descriptor against the second field of
// the instrument's version reply: which table they choose, if any.
TEST(UpgradeChecks, VersionConditionsChooseTheTable) {
  using V = FirmwareVerdict;
  using T = VersionTest;
  struct Condition {
    VersionTest test;
    std::int32_t reference;
  };
  struct Case {
    const char* what;
    Condition first;
    Condition second;
    const char* version;
    FirmwareVerdict verdict;
    int table;
  };
  const Condition kNone = {T::NoCondition, 0};
  const Case cases[] = {
      {"at least 200, has 150", {T::GreaterOrEqual, 200}, kNone, "V,150", V::Incompatible, -1},
      {"at least 200, has 250", {T::GreaterOrEqual, 200}, kNone, "V,250", V::Suits, 0},
      {"at most 200, has 200", {T::LessOrEqual, 200}, kNone, "V,200", V::Suits, 0},
      {"at most 200, has 201", {T::LessOrEqual, 200}, kNone, "V,201", V::Incompatible, -1},
      {"second condition chooses", {T::Greater, 200}, {T::Equal, 150}, "V,150", V::Suits, 1},
      {"second unusable", {T::Greater, 200}, {T::Unusable, 0}, "V,150", V::NoUsableTarget, -1},
      {"unusable, then not met", {T::Unusable, 0}, {T::Less, 100}, "V,150", V::Incompatible, -1},
      {"reply without a comma", {T::Less, 200}, kNone, "V150", V::VersionUnreadable, -1},
      {"reply from nobody", {T::Less, 200}, kNone, "", V::VersionUnreadable, -1},
  };
  for (const Case& c : cases) {
    UpgradeDescriptor d;
    d.targetModel = "VXM66";
    d.versionTest = {c.first.test, c.second.test};
    d.versionReference = {c.first.reference, c.second.reference};
    const FirmwareCheck check = CheckFirmware(d, {true, LookupModel("VXM66"), kVxm66, c.version});
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
