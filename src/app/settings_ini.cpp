// The portable settings store: a small INI reader and writer that keeps the
// file in the same shape as the Windows profile functions do, so a settings
// file moves between the two without change.
#include <fstream>
#include <sstream>
#include <vector>

#include "app/settings.h"
#include "common/text.h"

namespace parlex2 {
namespace {

constexpr char kBlanks[] = " \t";

std::string_view Trim(std::string_view text) {
  std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  std::size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

// The section name of a "[name]" line.
std::optional<std::string_view> SectionName(std::string_view line) {
  std::string_view text = Trim(line);
  if (text.empty() || text.front() != '[') return std::nullopt;
  std::size_t close = text.find(']');
  if (close == std::string_view::npos) close = text.size();
  return Trim(text.substr(1, close - 1));
}

// The key name of a "key=value" line.
std::optional<std::string_view> KeyName(std::string_view line) {
  std::size_t equals = line.find('=');
  if (equals == std::string_view::npos) return std::nullopt;
  return Trim(line.substr(0, equals));
}

struct IniLines {
  std::vector<std::string> lines;

  static IniLines Load(const std::string& path) {
    IniLines ini;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      ini.lines.push_back(line);
    }
    return ini;
  }

  // Writes the file as the profile functions rewrite one: blank lines dropped,
  // blanks around section names, keys and values removed, other lines kept.
  bool Save(const std::string& path) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    for (const std::string& line : lines) {
      std::string_view text = Trim(line);
      if (text.empty()) continue;
      if (auto section = SectionName(text)) {
        out << '[' << *section << ']';
      } else if (auto key = KeyName(text)) {
        out << *key << '=' << Trim(text.substr(text.find('=') + 1));
      } else {
        out << text;
      }
      out << "\r\n";
    }
    out.flush();
    return static_cast<bool>(out);
  }

  // Index of the section's header line, or npos.
  std::size_t FindSection(std::string_view section) const {
    for (std::size_t i = 0; i < lines.size(); ++i) {
      auto name = SectionName(lines[i]);
      if (name && EqualNoCase(*name, section)) return i;
    }
    return std::string::npos;
  }

  // One past the section's last line.
  std::size_t SectionEnd(std::size_t header) const {
    std::size_t i = header + 1;
    while (i < lines.size() && !SectionName(lines[i])) ++i;
    return i;
  }

  // Index of the key's line inside the section, or npos.
  std::size_t FindKey(std::size_t header, std::string_view key) const {
    std::size_t end = SectionEnd(header);
    for (std::size_t i = header + 1; i < end; ++i) {
      auto name = KeyName(lines[i]);
      if (name && EqualNoCase(*name, key)) return i;
    }
    return std::string::npos;
  }

  std::optional<std::string> Value(std::string_view section, std::string_view key) const {
    std::size_t header = FindSection(section);
    if (header == std::string::npos) return std::nullopt;
    std::size_t line = FindKey(header, key);
    if (line == std::string::npos) return std::nullopt;
    std::string_view text = lines[line];
    std::string_view value = Trim(text.substr(text.find('=') + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
  }
};

}  // namespace

int IniFileStore::GetInt(std::string_view section, std::string_view key, int defaultValue) {
  std::optional<std::string> value = IniLines::Load(path_).Value(section, key);
  if (!value || value->empty()) return defaultValue;
  return AtoI(*value);
}

std::string IniFileStore::GetString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue, std::size_t maxLength) {
  std::optional<std::string> value = IniLines::Load(path_).Value(section, key);
  return Truncated(value ? std::string_view(*value) : defaultValue, maxLength);
}

bool IniFileStore::PutString(std::string_view section, std::string_view key,
                             std::string_view value) {
  IniLines ini = IniLines::Load(path_);
  std::string line = std::string(key) + "=" + std::string(value);
  std::size_t header = ini.FindSection(section);
  if (header == std::string::npos) {
    ini.lines.push_back(std::string("[").append(section).append("]"));
    ini.lines.push_back(line);
  } else if (std::size_t found = ini.FindKey(header, key); found != std::string::npos) {
    // The key keeps the spelling it was first written with.
    std::string_view old = ini.lines[found];
    ini.lines[found] = std::string(Trim(old.substr(0, old.find('=')))) + "=" + std::string(value);
  } else {
    std::size_t at = ini.SectionEnd(header);
    ini.lines.insert(ini.lines.begin() + static_cast<std::ptrdiff_t>(at), line);
  }
  return ini.Save(path_);
}

}  // namespace parlex2
