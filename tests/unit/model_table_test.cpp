#include "connect/model_table.h"

#include <gtest/gtest.h>

namespace parlex2 {
namespace {

// The first row whose text begins the reply wins, so longer prefixes must
// come before the shorter ones they share a start with; the match is exact
// in case and from the first character. A row that names a variant writes
// it, and only that one: the family or the model, by whether the text goes
// on to the row's longer prefix.
TEST(ModelTable, FirstMatchingPrefixWinsAndWritesOnlyItsVariant) {
  struct Case {
    const char* text;
    std::int32_t number;
    std::int32_t family = -1;  // -1: not written
    std::int32_t model = -1;
  };
  const Case cases[] = {
      {"J7B7331", 17},      {"J7B73", 9997},
      {"J7B39,123", 13},    {"J7B", 9997},
      {"VXM66,1234", 5},    {"VXM61", 6},
      {"VXM6", 6},          {"HLTB26", 10},
      {"HLTB2", 0},         {"YTU interface", 3},
      {"YTU interfac", 0},  {"vxm66", 0},
      {" VXM66", 0},        {"", 0},
      {"ZQM44", 7},         {"ZQM8168A", 9, 3},
      {"ZQM812", 9, 2},     {"ZQM7133", 7, -1, 0},
      {"ZQM712", 7, -1, 2}, {"GKK-UX1", 7, -1, 2},
  };
  for (const Case& c : cases) {
    std::int32_t family = -1, model = -1;
    EXPECT_EQ(LookupModel(c.text, &family, &model), c.number) << c.text;
    EXPECT_EQ(family, c.family) << c.text;
    EXPECT_EQ(model, c.model) << c.text;
    EXPECT_EQ(LookupModel(c.text), c.number) << c.text;  // without outputs
  }
}

}  // namespace
}  // namespace parlex2
