// Text helpers shared by every subsystem: field splitting, line reading from
// files, the C library's forgiving number reading, comparison without regard
// to case, and the parts of a path.
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

// Copies at most `limit` characters of `text` (the fixed buffers of the
// instrument records hold `limit` characters and a terminating zero).
std::string Truncated(std::string_view text, std::size_t limit);

// The text up to (not including) its first zero byte.
std::string_view UntilNul(std::string_view text);

// Letters compared without regard to case (ASCII, as the C locale does):
// `text` begins with `prefix`; `a` and `b` are the same text.
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
bool EqualNoCase(std::string_view a, std::string_view b);
// `text` with its ASCII letters in lower case.
std::string LowerCase(std::string_view text);

// The path separator of this platform, and whether `c` separates the parts of
// a path here: a backslash or a slash on Windows, a slash elsewhere.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
inline bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }
#else
inline constexpr char kPathSeparator = '/';
inline bool IsPathSeparator(char c) { return c == '/'; }
#endif
// The position of the last separator in `path`; npos when it has none.
std::size_t LastPathSeparator(std::string_view path);

}  // namespace parlex2
