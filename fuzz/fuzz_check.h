// What every fuzz target shares: a property check that stops the run with the
// failing expression (libFuzzer then saves the input as a crash), a splitter
// of the input into pieces at a chosen byte, a plain reference of the decimal
// number grammar.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#define FUZZ_CHECK(condition)                                                               \
  do {                                                                                      \
    if (!(condition)) {                                                                     \
      std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                         \
    }                                                                                       \
  } while (0)

namespace parlex2::fuzz {

inline std::string_view AsText(const unsigned char* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// The input cut at every `separator` (kept out of the pieces); an empty input
// gives one empty piece.
inline std::vector<std::string> Pieces(std::string_view text, char separator) {
  std::vector<std::string> pieces(1);
  for (char c : text) {
    if (c == separator) {
      pieces.emplace_back();
    } else {
      pieces.back() += c;
    }
  }
  return pieces;
}

// The decimal number that starts at `at`, or empty: sign, digits, point,
// digits (a digit on one side at least), then an exponent only when digits
// follow its sign.
inline std::string DecimalAt(std::string_view text, std::size_t at = 0) {
  std::size_t i = at;
  auto digits = [&] {
    const std::size_t from = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    return i - from;
  };
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t mantissa = digits();
  if (i < text.size() && text[i] == '.') {
    ++i;
    mantissa += digits();
  }
  if (mantissa == 0) return "";
  std::size_t end = i;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (digits() > 0) end = i;
  }
  return std::string(text.substr(at, end - at));
}

}  // namespace parlex2::fuzz
