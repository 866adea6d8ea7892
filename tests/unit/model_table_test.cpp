#include "connect/model_table.h"

#include <gtest/gtest.h>

namespace parlex2 {
namespace {

// The first row whose text begins the reply wins, so longer prefixes must
// come before the shorter ones they share a start with; the match is exact
// in case and from the first character.
TEST(ModelTable, FirstMatchingPrefixWins) {
  struct Case {
    const char* text;
    std::int32_t model;
  };
  const Case cases[] = {
      {"J7B7331", 17}, {"J7B73", 9997},      {"J7B39,123", 13},
      {"J7B", 9997},   {"VXM66,1234", 5},    {"VXM61", 6},
      {"VXM6", 6},     {"HLTB26", 10},       {"HLTB2", 0},
      {"GKK-UX1", 7},  {"YTU interface", 3}, {"YTU interfac", 0},
      {"vxm66", 0},    {" VXM66", 0},        {"", 0},
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
