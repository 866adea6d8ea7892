// The directory search on POSIX systems. Windows finds file names without
// regard to case; firmware sets are made there, so names are matched the same
// way here, and a backslash in a name written on Windows separates folders.
#include <strings.h>
#include <sys/stat.h>

#include <climits>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "common/text.h"
#include "upgrade/upgrade_descriptor.h"

namespace parlex2 {
namespace {

bool IsRegularFile(const std::string& path, struct stat& info) {
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool IsDirectory(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The entry of `directory` named `name` without regard to case: the exact
// name when it exists, else the first case-insensitive match in name order.
std::string MatchInDirectory(const std::string& directory, const std::string& name,
                             bool wantDirectory) {
  const std::string prefix = directory.empty() ? "" : directory + "/";
  struct stat info {};
  const std::string exact = prefix + name;
  if (wantDirectory ? IsDirectory(exact) : IsRegularFile(exact, info)) return name;
  std::error_code error;
  std::string best;
  for (std::filesystem::directory_iterator it(directory.empty() ? "." : directory, error), end;
       !error && it != end; it.increment(error)) {
    const std::string candidate = it->path().filename().string();
    if (strcasecmp(candidate.c_str(), name.c_str()) != 0) continue;
    const std::string full = prefix + candidate;
    const bool fits = wantDirectory ? IsDirectory(full) : IsRegularFile(full, info);
    if (fits && (best.empty() || candidate < best)) best = candidate;
  }
  return best;
}

std::int64_t Seconds(const timespec& t) { return static_cast<std::int64_t>(t.tv_sec); }

class PosixFileFinder final : public FileFinder {
 public:
  std::optional<FileInfo> Find(const std::string& path, std::string* foundPath) override {
    std::string resolved = Resolve(path);
    if (resolved.empty()) return std::nullopt;
    struct stat st {};
    if (!IsRegularFile(resolved, st)) return std::nullopt;
    FileInfo info;
    info.attributes = 0;
    info.creationTime = Seconds(st.st_ctim);
    info.accessTime = Seconds(st.st_atim);
    info.writeTime = Seconds(st.st_mtim);
    info.size = st.st_size > static_cast<off_t>(UINT32_MAX)
                    ? UINT32_MAX
                    : static_cast<std::uint32_t>(st.st_size);
    const std::size_t slash = resolved.rfind('/');
    info.name =
        Truncated(slash == std::string::npos ? resolved : resolved.substr(slash + 1), kPathMax);
    if (foundPath) *foundPath = resolved;
    return info;
  }

 private:
  // The path as it exists on disk, each part matched without regard to case;
  // empty when some part cannot be found.
  static std::string Resolve(const std::string& path) {
    struct stat info {};
    if (IsRegularFile(path, info)) return path;
    std::string unified = path;
    for (char& c : unified) {
      if (c == '\\') c = '/';
    }
    std::vector<std::string> parts = SplitText(unified, '/');
    std::string current = !unified.empty() && unified[0] == '/' ? "/" : "";
    for (std::size_t i = 0; i < parts.size(); ++i) {
      const std::string& part = parts[i];
      const bool last = i + 1 == parts.size();
      if (part.empty() || part == ".") {
        if (last) return {};
        continue;
      }
      std::string directory = current;
      if (directory.size() > 1 && directory.back() == '/') directory.pop_back();
      std::string match = part == ".." && !last ? part : MatchInDirectory(directory, part, !last);
      if (match.empty()) return {};
      if (!current.empty() && current.back() != '/') current += '/';
      current += match;
    }
    return current;
  }
};

}  // namespace

FileFinder& SystemFileFinder() {
  static PosixFileFinder finder;
  return finder;
}

}  // namespace parlex2
