// Upgrade descriptors: the small text files that say which firmware file goes
// into which flash sector, for which instrument model, under which condition
// on the instrument's internal version, and what the user must confirm first.
//
//   TARGET,VXM86xx,200,gteq,x   model; version reference and comparison
//   WARNING,Text shown first    confirmed with OK or Cancel
//   SERIAL,2,100,200            the next 2 entries only for serials 100..200
//   LOAD,0,main.hex             erase sector 0, then program it
//   OVER,2,patch.hex            program sector 2 without erasing it
//
// The parser takes the descriptor's bytes; finding files is behind FileFinder
// so tests and fuzzers feed it anything without touching the disk.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace parlex2 {

inline constexpr std::size_t kPathMax = 259;  // a path or file name kept
inline constexpr std::size_t kTargetModelMax = 20;
inline constexpr std::size_t kWarningTextMax = 255;
inline constexpr std::size_t kDescriptorLineBuffer = 260;  // longer lines come in pieces
inline constexpr std::size_t kLoadTableCapacity = 50;

// A file as the directory search found it.
struct FileInfo {
  std::uint32_t attributes = 0;
  std::int64_t creationTime = 0;  // seconds since 1970
  std::int64_t accessTime = 0;
  std::int64_t writeTime = 0;
  std::uint32_t size = 0;
  std::string name;  // as found on disk (or as written when not found), no directory
};

// One programming step: a LOAD or OVER line, or a file of the main-hex route.
struct LoadEntry {
  std::string path;  // what the worker opens
  FileInfo fileInfo;
  std::int32_t sector = 0;
  bool found = false;
  bool over = false;  // program without erasing first
  std::int32_t serialLow = 0;
  std::int32_t serialHigh = 0;  // 0: no upper bound
  // Set by BuildFirmwareList for the rows it shows. The worker erases for
  // and programs only these, so what the user accepted is what is written.
  bool listed = false;
};

struct LoadTable {
  std::array<LoadEntry, kLoadTableCapacity> entries;
};

enum class VersionTest : std::int32_t {
  Unusable = 0,
  NoCondition = 1,
  Greater = 2,
  GreaterOrEqual = 3,
  Less = 4,
  LessOrEqual = 5,
  Equal = 6,
};

// A LOAD or OVER line whose sector the family does not admit: it sets
// AcceptBlocked whether or not its entry is ever listed, so the list names it.
struct OutOfRangeLine {
  int line = 0;  // counted from 1 (a line longer than the buffer counts as several)
  std::int32_t sector = 0;
  int table = 0;  // the load table its entry went into
  int slot = -1;  // its entry's slot; -1 when the line was dropped for want of a file name
};

struct UpgradeDescriptor {
  bool upgradeSucceeded = false;  // set by the worker after the restart
  std::string targetModel;        // at most 20 characters
  std::array<std::int32_t, 2> versionReference{};
  std::array<VersionTest, 2> versionTest{VersionTest::NoCondition, VersionTest::NoCondition};
  std::array<std::string, 2> warningText;
  // Entries read into each table (a descriptor with two conditional TARGET
  // lines fills both).
  std::array<int, 2> entryCount{};
  LoadTable* loadTable = nullptr;  // the table selected for the run
  std::vector<OutOfRangeLine> outOfRange;  // every line that set AcceptBlocked
};

// The sectors the entries picked by `use` name, each once in table order, and
// whether it is erased before it is programmed: not when every picked entry
// naming it is an OVER entry. The worker erases by it and the list shows the
// sectors to erase by it, so what is accepted is what is done.
struct SectorPlan {
  std::int32_t sector = 0;
  bool erase = true;
};
std::vector<SectorPlan> PlanSectors(const LoadTable& table, bool (*use)(const LoadEntry& entry));

// Looks a path up as the platform's directory search does. Null when nothing
// matches. A directory is no firmware file and is not found.
class FileFinder {
 public:
  virtual ~FileFinder() = default;
  // The match for `path`; `foundPath` receives the path to open it by (the
  // same path, or on a case-sensitive file system the name as it is on disk).
  virtual std::optional<FileInfo> Find(const std::string& path, std::string* foundPath) = 0;
};

// The real file system. Names are matched without regard to case on every
// platform, so a firmware set copied from a Windows machine works unchanged.
FileFinder& SystemFileFinder();

// The highest sector the target family admits: 15 for VXM86..., 8 for J7B...,
// else 7 (also for an empty or unknown model).
int MaxSectorFor(std::string_view targetModel);

// The directory part of `path`, up to and including its last separator
// (backslash or slash on Windows, slash elsewhere); empty when it has none.
std::string DirectoryOf(std::string_view path);

// Reads descriptor `text` (the file's bytes) that lies at `descriptorPath`.
// The caller zeroes `descriptor`, both tables and `acceptBlocked`. Returns the
// entry count of the table that was current when reading stopped (the count
// of each table is also left in descriptor.entryCount). A sector the family
// does not admit sets `acceptBlocked`; lines that make no sense are dropped.
int ParseUpgradeDescriptorText(std::string_view text, std::string_view descriptorPath,
                               FileFinder& finder, LoadTable (&tables)[2], std::size_t capacity,
                               UpgradeDescriptor& descriptor, bool& acceptBlocked);

// The same for the file at `path`; 0 when it cannot be read.
int ParseUpgradeDescriptor(const std::string& path, FileFinder& finder, LoadTable (&tables)[2],
                           std::size_t capacity, UpgradeDescriptor& descriptor,
                           bool& acceptBlocked);

// Reads a whole file's bytes; false when it cannot be opened or is no file.
bool ReadWholeFile(const std::string& path, std::string& bytes);

}  // namespace parlex2
