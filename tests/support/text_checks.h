// Text helpers of the tests' checks.
#pragma once

#include <cstddef>
#include <string_view>

namespace parlex2::testing {

// How many times `part` occurs in `text` (overlapping occurrences counted).
inline std::size_t Occurrences(std::string_view text, std::string_view part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string_view::npos; at = text.find(part, at + 1))
    ++n;
  return n;
}

}  // namespace parlex2::testing
