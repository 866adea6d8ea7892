// The text helpers every reader of files and replies builds on: SplitText,
// ReadTextLine, the case folding, Truncated and UntilNul.
#include <cstdint>
#include <sstream>

#include "common/text.h"
#include "fuzz_check.h"

using namespace parlex2;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const char separator = static_cast<char>(data[0]);
  const std::string_view text = fuzz::AsText(data + 1, size - 1);

  // SplitText: the fields joined by the separator give the text back, less a
  // separator at its very end; no field holds the separator.
  std::vector<std::string> fields = SplitText(text, separator);
  std::string joined;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    FUZZ_CHECK(fields[i].find(separator) == std::string::npos);
    if (i) joined += separator;
    joined += fields[i];
  }
  std::string_view expected = text;
  if (!expected.empty() && expected.back() == separator) expected.remove_suffix(1);
  FUZZ_CHECK(joined == expected);
  FUZZ_CHECK(text.empty() == fields.empty());

  // ReadTextLine: each line fits its buffer and holds no line feed; the lines
  // together never hold more than the text; the stream always ends.
  const std::size_t bufferSize = 2 + static_cast<unsigned char>(data[0]) % 64;
  std::istringstream in{std::string(text)};
  std::string line;
  std::size_t total = 0;
  std::size_t lines = 0;
  while (ReadTextLine(in, line, bufferSize)) {
    FUZZ_CHECK(line.size() < bufferSize);
    FUZZ_CHECK(line.find('\n') == std::string::npos);
    FUZZ_CHECK(line.find('\0') == std::string::npos);
    total += line.size();
    FUZZ_CHECK(++lines <= text.size());
  }
  FUZZ_CHECK(total <= text.size());
  FUZZ_CHECK(!ReadTextLine(in, line, bufferSize));
  FUZZ_CHECK(line.empty());

  // Case folding keeps the length and every byte that is no ASCII letter.
  const std::string lower = LowerCase(text);
  FUZZ_CHECK(lower.size() == text.size() && EqualNoCase(lower, text));
  FUZZ_CHECK(StartsWithNoCase(text, lower.substr(0, lower.size() / 2)));

  // Truncated and UntilNul are prefixes of the text.
  const std::size_t limit = static_cast<unsigned char>(data[0]);
  const std::string cut = Truncated(text, limit);
  FUZZ_CHECK(cut.size() == std::min(limit, text.size()) && text.substr(0, cut.size()) == cut);
  const std::string_view untilNul = UntilNul(text);
  FUZZ_CHECK(untilNul.find('\0') == std::string_view::npos);
  FUZZ_CHECK(untilNul.size() == text.size() || text[untilNul.size()] == '\0');
  return 0;
}
