// A fresh, empty folder under the system's temporary folder, removed with
// everything in it when the object goes. ctest runs test cases as separate
// processes side by side, and other builds on the machine run the same cases,
// so the folder is made with create_directory, which fails rather than share
// a folder that already exists; the name's per-process counter and random
// part make a second try rare.
#pragma once

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

namespace parlex2::testing {

class TempFolder {
 public:
  explicit TempFolder(const std::string& prefix = "parlex2-test") {
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::filesystem::path candidate =
          base / (prefix + "-" + std::to_string(counter++) + "-" + std::to_string(random()));
      std::error_code ec;
      if (std::filesystem::create_directory(candidate, ec)) {
        path_ = candidate;
        return;
      }
    }
    throw std::runtime_error("cannot make a temporary folder in " + base.string());
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  // The folder with a trailing separator, as a descriptor's directory part is.
  std::string Prefix() const { return (path_ / "").string(); }
  // Writes `bytes` to `name` (its folders made as needed); returns the path.
  std::string Write(const std::string& name, const std::string& bytes) const {
    const std::filesystem::path file = path_ / name;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
    return file.string();
  }

 private:
  std::filesystem::path path_;
};

// A file's bytes as they are on disk; empty when it cannot be read.
inline std::string ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace parlex2::testing
