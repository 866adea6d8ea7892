// Text helpers shared by every subsystem: field splitting, line reading from
// files, and the C library's forgiving number reading.
#pragma once

#include <cstddef>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace parlex2 {

// Splits `text` at every `separator`. Empty fields between two separators are
// kept, a separator at the very end adds no empty field, and an empty text
// gives no field at all: "a,,b," -> {"a", "", "b"}.
std::vector<std::string> SplitText(std::string_view text, char separator);

// Reads one line of at most `bufferSize` - 1 characters (fgets semantics: the
// read stops after a line feed or when the buffer would be full), then cuts the
// text at its last carriage return and then at its last line feed. Returns
// false at the end of the stream when nothing was read. `lineFeedRead`, when
// given, tells whether the read ended at a line feed (a longer line goes on in
// the next read).
bool ReadTextLine(std::istream& in, std::string& line, std::size_t bufferSize,
                  bool* lineFeedRead = nullptr);

// atoi semantics: leading white space, an optional sign, then decimal digits up
// to the first other character; no digits give 0. Values beyond the range of
// int saturate instead of being undefined.
int AtoI(std::string_view text);

// atof semantics (strtod in the "C" locale): the longest number at the start of
// the text after white space; 0.0 when there is none.
double AtoF(std::string_view text);

// Copies at most `limit` characters of `text` (the fixed buffers of the
// instrument records hold `limit` characters and a terminating zero).
std::string Truncated(std::string_view text, std::size_t limit);

// The text up to (not including) its first zero byte.
std::string_view UntilNul(std::string_view text);

}  // namespace parlex2
