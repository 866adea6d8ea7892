#include "upgrade/upgrade_descriptor.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/text.h"

namespace parlex2 {
namespace {

// A keyword counts when its upper-case spelling first occurs at the start of
// the line or, when that spelling occurs nowhere in the line, its lower-case
// spelling does. Mixed case is no keyword.
bool StartsWithKeyword(std::string_view line, std::string_view upper, std::string_view lower) {
  std::size_t at = line.find(upper);
  if (at == std::string_view::npos && !lower.empty()) at = line.find(lower);
  return at == 0;
}

std::string WithoutWhiteSpace(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (!std::isspace(static_cast<unsigned char>(c))) out.push_back(c);
  }
  return out;
}

VersionTest TestOfWord(std::string_view word) {
  if (EqualNoCase(word, "gt")) return VersionTest::Greater;
  if (EqualNoCase(word, "gteq")) return VersionTest::GreaterOrEqual;
  if (EqualNoCase(word, "lt")) return VersionTest::Less;
  if (EqualNoCase(word, "lteq")) return VersionTest::LessOrEqual;
  if (EqualNoCase(word, "eq")) return VersionTest::Equal;
  return VersionTest::Unusable;
}

std::size_t SkipBlanks(std::string_view line, std::size_t at) {
  while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
  return at;
}

struct PendingSerial {
  int count = 0;
  std::int32_t low = 0;
  std::int32_t high = 0;
};

class DescriptorReader {
 public:
  DescriptorReader(std::string_view descriptorPath, FileFinder& finder, LoadTable (&tables)[2],
                   std::size_t capacity, UpgradeDescriptor& descriptor, bool& acceptBlocked)
      : directory_(DirectoryOf(descriptorPath)),
        finder_(finder),
        tables_(tables),
        capacity_(capacity < kLoadTableCapacity ? capacity : kLoadTableCapacity),
        d_(descriptor),
        acceptBlocked_(acceptBlocked) {}

  int Read(std::istream& in) {
    std::string line;
    while (ReadTextLine(in, line, kDescriptorLineBuffer)) {
      if (static_cast<std::size_t>(d_.entryCount[current_]) >= capacity_) break;
      ++lineNumber_;
      Line(line);
    }
    return d_.entryCount[current_];
  }

 private:
  void Line(std::string_view line) {
    if (StartsWithKeyword(line, "TARGET", "target")) {
      Target(line);
    } else if (StartsWithKeyword(line, "WARNING", "warning")) {
      if (auto comma = line.find(','); comma != std::string_view::npos) {
        d_.warningText[current_] = Truncated(line.substr(comma + 1), kWarningTextMax);
      }
    } else if (StartsWithKeyword(line, "SERIAL", "")) {
      Serial(line);
    } else if (StartsWithKeyword(line, "OVER", "over")) {
      Entry(line, true);
    } else if (StartsWithKeyword(line, "LOAD", "load")) {
      Entry(line, false);
    }
  }

  void Target(std::string_view line) {
    const std::vector<std::string> fields = SplitText(line, ',');
    if (fields.size() == 2) {
      d_.targetModel = Truncated(WithoutWhiteSpace(fields[1]), kTargetModelMax);
    } else if (fields.size() == 1 || fields.size() == 3) {
      d_.versionTest[current_] = VersionTest::Unusable;
    } else if (fields.size() >= 4) {
      if (tables_[current_].entries[0].found) {
        // The records hold two conditions; a third has no place and is
        // ignored as a whole.
        if (current_ == 1) return;
        current_ = 1;
        d_.entryCount[1] = 0;
      }
      d_.targetModel = Truncated(WithoutWhiteSpace(fields[1]), kTargetModelMax);
      d_.versionReference[current_] = AtoI(WithoutWhiteSpace(fields[2]));
      d_.versionTest[current_] = TestOfWord(WithoutWhiteSpace(fields[3]));
    }
    maxSector_ = MaxSectorFor(d_.targetModel);
  }

  void Serial(std::string_view line) {
    pending_ = {};
    std::int32_t values[3] = {};
    std::size_t at = 0;
    for (int i = 0; i < 3; ++i) {
      at = line.find(',', at);
      if (at == std::string_view::npos) return;
      ++at;
      values[i] = AtoI(line.substr(at));
      const bool inRange = i == 0 ? values[i] >= 1 && values[i] <= 9 : values[i] >= 0;
      if (!inRange) return;
    }
    pending_ = {values[0], values[1], values[2]};
  }

  void Entry(std::string_view line, bool over) {
    LoadEntry& entry = tables_[current_].entries[static_cast<std::size_t>(d_.entryCount[current_])];
    entry = LoadEntry{};
    entry.over = over;
    std::size_t comma = line.find(',');
    if (comma == std::string_view::npos) return;
    const std::size_t sectorAt = SkipBlanks(line, comma + 1);
    if (sectorAt >= line.size()) return;
    entry.sector = AtoI(line.substr(sectorAt));
    if (entry.sector < 0 || entry.sector > maxSector_) {
      acceptBlocked_ = true;
      d_.outOfRange.push_back({lineNumber_, entry.sector, current_, -1});
    }
    comma = line.find(',', sectorAt);
    if (comma == std::string_view::npos) return;
    const std::size_t nameAt = SkipBlanks(line, comma + 1);
    if (nameAt >= line.size()) return;
    if (!d_.outOfRange.empty() && d_.outOfRange.back().line == lineNumber_) {
      d_.outOfRange.back().slot = d_.entryCount[current_];
    }
    const std::string_view name = line.substr(nameAt);
    entry.path = Truncated(directory_ + std::string(name), kPathMax);
    std::string foundPath;
    if (auto info = finder_.Find(entry.path, &foundPath)) {
      entry.fileInfo = std::move(*info);
      entry.found = true;
      if (!foundPath.empty()) entry.path = Truncated(foundPath, kPathMax);
    } else {
      entry.fileInfo.name = Truncated(name, kPathMax);
    }
    if (pending_.count > 0) {
      entry.serialLow = pending_.low;
      entry.serialHigh = pending_.high;
      --pending_.count;
    }
    ++d_.entryCount[current_];
  }

  std::string directory_;
  FileFinder& finder_;
  LoadTable (&tables_)[2];
  std::size_t capacity_;
  UpgradeDescriptor& d_;
  bool& acceptBlocked_;
  int current_ = 0;
  int lineNumber_ = 0;
  int maxSector_ = 7;  // the family is unknown until a TARGET line names it
  PendingSerial pending_;
};

int Parse(std::istream& in, std::string_view path, FileFinder& finder, LoadTable (&tables)[2],
          std::size_t capacity, UpgradeDescriptor& descriptor, bool& acceptBlocked) {
  descriptor.versionTest = {VersionTest::NoCondition, VersionTest::NoCondition};
  descriptor.versionReference = {0, 0};
  descriptor.entryCount = {0, 0};
  descriptor.outOfRange.clear();
  DescriptorReader reader(path, finder, tables, capacity, descriptor, acceptBlocked);
  return reader.Read(in);
}

}  // namespace

std::vector<SectorPlan> PlanSectors(const LoadTable& table, bool (*use)(const LoadEntry& entry)) {
  std::vector<SectorPlan> plan;
  for (const LoadEntry& entry : table.entries) {
    if (!use(entry)) continue;
    SectorPlan* known = nullptr;
    for (SectorPlan& p : plan) {
      if (p.sector == entry.sector) known = &p;
    }
    if (!known) {
      plan.push_back({entry.sector, !entry.over});
    } else if (!entry.over) {
      known->erase = true;
    }
  }
  return plan;
}

int MaxSectorFor(std::string_view targetModel) {
  if (targetModel.substr(0, 5) == "VXM86") return 15;
  if (targetModel.substr(0, 3) == "J7B") return 8;
  return 7;
}

std::string DirectoryOf(std::string_view path) {
  const std::size_t last = LastPathSeparator(path);
  if (last == std::string_view::npos) return {};
  return Truncated(path.substr(0, last + 1), kPathMax);
}

int ParseUpgradeDescriptorText(std::string_view text, std::string_view descriptorPath,
                               FileFinder& finder, LoadTable (&tables)[2], std::size_t capacity,
                               UpgradeDescriptor& descriptor, bool& acceptBlocked) {
  std::istringstream in{std::string(text)};
  return Parse(in, descriptorPath, finder, tables, capacity, descriptor, acceptBlocked);
}

int ParseUpgradeDescriptor(const std::string& path, FileFinder& finder, LoadTable (&tables)[2],
                           std::size_t capacity, UpgradeDescriptor& descriptor,
                           bool& acceptBlocked) {
  descriptor.versionTest = {VersionTest::NoCondition, VersionTest::NoCondition};
  descriptor.versionReference = {0, 0};
  std::error_code error;
  if (std::filesystem::is_directory(std::filesystem::path(path), error)) return 0;
  std::string text;
  if (!ReadWholeFile(path, text)) return 0;
  return ParseUpgradeDescriptorText(text, path, finder, tables, capacity, descriptor,
                                    acceptBlocked);
}

bool ReadWholeFile(const std::string& path, std::string& bytes) {
  std::error_code error;
  if (std::filesystem::is_directory(std::filesystem::path(path), error)) return false;
  std::ifstream in(path.c_str(), std::ios::binary);
  if (!in) return false;
  std::ostringstream out;
  out << in.rdbuf();
  bytes = out.str();
  return true;
}

}  // namespace parlex2
