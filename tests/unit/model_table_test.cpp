#include "connect/model_table.h"

#include <gtest/gtest.h>

namespace parlex2 {
namespace {

TEST(ModelTable, EveryRowAndItsShadowing) {
  struct Case {
    const char* text;
    std::int32_t model;
  };
  const Case cases[] = {
      {"J7BX2", 18},       {"J7B39,123", 13}, {"J7B34", 13},   {"J7B38", 13},
      {"J7B75", 15},       {"J7B83", 15},     {"J7B91", 15},   {"J7B7331", 17},
      {"J7B733", 17},      {"J7B73", 9997},   {"J7B99", 9997}, {"J7B", 9997},
      {"ZQM44,55,1.0", 7}, {"GKK-UX1", 7},    {"MKK-UX", 7},   {"HLTB26", 10},
      {"HLTB63", 11},      {"VXM66,1234", 5}, {"WYC23", 5},    {"VXM26", 4},
      {"VXM86", 16},       {"VXM46", 2},      {"VXM49", 3},    {"YTU interface", 3},
      {"VXM76", 1},        {"VXM6", 6},       {"VXM61", 6},    {"VXM6,9", 6},
      {"GHQ1", 12},        {"DWN", 12},       {"RJZ7", 12},    {"vxm66", 0},
      {"zqm44", 0},        {"", 0},           {"VXM", 0},      {" VXM66", 0},
      {"YTU interfac", 0}, {"HLTB2", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LookupModel(c.text), c.model) << c.text;
  }
}

TEST(ModelTable, VariantsAreWrittenOnlyByTheRowsThatNameThem) {
  std::int32_t family = -1, model = -1;
  EXPECT_EQ(LookupModel("ZQM8168A", &family, &model), 9);
  EXPECT_EQ(family, 3);
  EXPECT_EQ(model, -1);
  EXPECT_EQ(LookupModel("ZQM812", &family, &model), 9);
  EXPECT_EQ(family, 2);

  family = -1;
  EXPECT_EQ(LookupModel("ZQM7133", &family, &model), 7);
  EXPECT_EQ(model, 0);
  EXPECT_EQ(LookupModel("ZQM712", &family, &model), 7);
  EXPECT_EQ(model, 2);
  model = -1;
  EXPECT_EQ(LookupModel("GKK-UX", &family, &model), 7);
  EXPECT_EQ(model, 2);
  EXPECT_EQ(family, -1);

  family = model = 42;
  EXPECT_EQ(LookupModel("VXM66", &family, &model), 5);
  EXPECT_EQ(LookupModel("ZQM44", &family, &model), 7);
  EXPECT_EQ(LookupModel("nothing", &family, &model), 0);
  EXPECT_EQ(family, 42);
  EXPECT_EQ(model, 42);

  // Absent outputs are simply not written.
  EXPECT_EQ(LookupModel("ZQM8168", nullptr, nullptr), 9);
}

}  // namespace
}  // namespace parlex2
