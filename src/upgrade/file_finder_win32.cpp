// The directory search on Windows: the first match of FindFirstFile, with
// directories and wildcard names refused (a descriptor names one file, and
// "*.hex" must not quietly pick whichever file comes first).
#include <windows.h>

#include "common/text.h"
#include "upgrade/upgrade_descriptor.h"

namespace parlex2 {
namespace {

std::int64_t Seconds(const FILETIME& t) {
  const std::uint64_t ticks =
      (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  constexpr std::uint64_t kTicksTo1970 = 116444736000000000ULL;  // 100 ns steps from 1601
  if (ticks < kTicksTo1970) return 0;
  return static_cast<std::int64_t>((ticks - kTicksTo1970) / 10000000ULL);
}

class Win32FileFinder final : public FileFinder {
 public:
  std::optional<FileInfo> Find(const std::string& path, std::string* foundPath) override {
    if (path.empty() || path.find_first_of("*?") != std::string::npos) return std::nullopt;
    WIN32_FIND_DATAA data{};
    HANDLE search = FindFirstFileA(path.c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return std::nullopt;
    FindClose(search);
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return std::nullopt;
    FileInfo info;
    info.attributes = data.dwFileAttributes;
    info.creationTime = Seconds(data.ftCreationTime);
    info.accessTime = Seconds(data.ftLastAccessTime);
    info.writeTime = Seconds(data.ftLastWriteTime);
    info.size = data.nFileSizeHigh ? 0xFFFFFFFFu : data.nFileSizeLow;
    info.name = Truncated(data.cFileName, kPathMax);
    if (foundPath) *foundPath = path;
    return info;
  }
};

}  // namespace

FileFinder& SystemFileFinder() {
  static Win32FileFinder finder;
  return finder;
}

}  // namespace parlex2
