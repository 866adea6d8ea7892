#include "connect/model_table.h"

namespace parlex2 {
namespace {

enum class Variant { None, Family, Model };

struct ModelRow {
  std::string_view key;
  std::int32_t number;
  Variant writes;
  std::string_view variantKey;  // the variant is variantHit when the text begins with this
  std::int32_t variantHit;
  std::int32_t variantOther;
};

// Accessories of the J7B family: only these rows are tried for a J7B text.
constexpr ModelRow kJ7BRows[] = {
    {"J7BX", 18, Variant::None, {}, 0, 0},  {"J7B39", 13, Variant::None, {}, 0, 0},
    {"J7B34", 13, Variant::None, {}, 0, 0}, {"J7B38", 13, Variant::None, {}, 0, 0},
    {"J7B75", 15, Variant::None, {}, 0, 0}, {"J7B83", 15, Variant::None, {}, 0, 0},
    {"J7B91", 15, Variant::None, {}, 0, 0}, {"J7B733", 17, Variant::None, {}, 0, 0},
};

constexpr ModelRow kRows[] = {
    {"ZQM81", 9, Variant::Family, "ZQM8168", 3, 2},
    {"ZQM44", 7, Variant::None, {}, 0, 0},
    {"ZQM71", 7, Variant::Model, "ZQM7133", 0, 2},
    {"GKK-UX", 7, Variant::Model, {}, 2, 2},
    {"MKK-UX", 7, Variant::Model, {}, 2, 2},
    {"HLTB26", 10, Variant::None, {}, 0, 0},
    {"HLTB63", 11, Variant::None, {}, 0, 0},
    {"VXM66", 5, Variant::None, {}, 0, 0},
    {"WYC23", 5, Variant::None, {}, 0, 0},
    {"VXM26", 4, Variant::None, {}, 0, 0},
    {"VXM86", 16, Variant::None, {}, 0, 0},
    {"VXM46", 2, Variant::None, {}, 0, 0},
    {"VXM49", 3, Variant::None, {}, 0, 0},
    {"YTU interface", 3, Variant::None, {}, 0, 0},
    {"VXM76", 1, Variant::None, {}, 0, 0},
    // Catches every other VXM6... model, so it must stay after VXM66.
    {"VXM6", 6, Variant::None, {}, 0, 0},
    {"GHQ", 12, Variant::None, {}, 0, 0},
    {"DWN", 12, Variant::None, {}, 0, 0},
    {"RJZ", 12, Variant::None, {}, 0, 0},
};

}  // namespace

std::int32_t LookupModel(std::string_view text, std::int32_t* familyVariant,
                         std::int32_t* modelVariant) {
  if (text.starts_with("J7B")) {
    for (const ModelRow& row : kJ7BRows) {
      if (text.starts_with(row.key)) return row.number;
    }
    return kModelJ7BAccessory;
  }
  for (const ModelRow& row : kRows) {
    if (!text.starts_with(row.key)) continue;
    const std::int32_t variant = !row.variantKey.empty() && text.starts_with(row.variantKey)
                                     ? row.variantHit
                                     : row.variantOther;
    if (row.writes == Variant::Family && familyVariant) *familyVariant = variant;
    if (row.writes == Variant::Model && modelVariant) *modelVariant = variant;
    return row.number;
  }
  return kModelNotIdentified;
}

bool IsCalibrationCheckedModel(std::int32_t modelNumber) {
  switch (modelNumber) {
    case 1:
    case 4:
    case 5:
    case 6:
    case 16:
      return true;
    default:
      return false;
  }
}

}  // namespace parlex2
