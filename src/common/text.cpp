#include "common/text.h"

#include <cctype>
#include <climits>
#include <cstdlib>

namespace parlex2 {

std::vector<std::string> SplitText(std::string_view text, char separator) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(separator, start);
    if (end == std::string_view::npos) {
      fields.emplace_back(text.substr(start));
      break;
    }
    fields.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return fields;
}

bool ReadTextLine(std::istream& in, std::string& line, std::size_t bufferSize, bool* lineFeedRead) {
  line.clear();
  if (lineFeedRead) *lineFeedRead = false;
  if (bufferSize < 2) return false;
  const std::size_t limit = bufferSize - 1;
  std::istream::sentry ok(in, true);
  if (!ok) return false;
  std::streambuf* buf = in.rdbuf();
  bool readAny = false;
  while (line.size() < limit) {
    int c = buf->sbumpc();
    if (c == std::char_traits<char>::eof()) {
      in.setstate(std::ios::eofbit);
      break;
    }
    readAny = true;
    line.push_back(static_cast<char>(c));
    if (c == '\n') {
      if (lineFeedRead) *lineFeedRead = true;
      break;
    }
  }
  if (!readAny) {
    in.setstate(std::ios::failbit);
    return false;
  }
  // The C buffer this mirrors ends at its first zero byte.
  line.resize(UntilNul(line).size());
  if (auto cr = line.rfind('\r'); cr != std::string::npos) line.resize(cr);
  if (auto lf = line.rfind('\n'); lf != std::string::npos) line.resize(lf);
  return true;
}

int AtoI(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

std::string Truncated(std::string_view text, std::size_t limit) {
  return std::string(text.substr(0, limit));
}

std::string_view UntilNul(std::string_view text) {
  auto nul = text.find('\0');
  return nul == std::string_view::npos ? text : text.substr(0, nul);
}

namespace {
char LowerLetter(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualNoCase(text.substr(0, prefix.size()), prefix);
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerLetter(a[i]) != LowerLetter(b[i])) return false;
  }
  return true;
}

std::string LowerCase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = LowerLetter(c);
  return lower;
}

std::size_t LastPathSeparator(std::string_view path) {
  for (std::size_t i = path.size(); i > 0; --i) {
    if (IsPathSeparator(path[i - 1])) return i - 1;
  }
  return std::string_view::npos;
}

}  // namespace parlex2
