// The instrument model table: classifies an instrument by the model field of
// its *IDN? reply into the model number the rest of the program tests.
#pragma once

#include <cstdint>
#include <string_view>

namespace parlex2 {

inline constexpr std::int32_t kModelNotIdentified = 0;
inline constexpr std::int32_t kModelJ7BAccessory = 9997;  // a J7B accessory without its own row
inline constexpr std::int32_t kModelBootcode = 9998;      // answers only from its boot code

// `text` starts with the model field (the *IDN? reply after its first comma)
// and may go on with anything. A row matches when the text begins with its key,
// compared case-sensitively; the first matching row wins, so a short key
// shadows longer keys that start with it. Returns 0 when no row matches.
// `familyVariant` and `modelVariant` are written only by the rows that set
// them, and only when given.
std::int32_t LookupModel(std::string_view text, std::int32_t* familyVariant = nullptr,
                         std::int32_t* modelVariant = nullptr);

// The models whose calibration dates the information panel checks.
bool IsCalibrationCheckedModel(std::int32_t modelNumber);

}  // namespace parlex2
