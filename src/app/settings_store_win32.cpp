// The Windows settings store: the system's private-profile functions, and the
// local application data folder asked of the shell.
#include <windows.h>

#include <string>
#include <vector>

#include "app/settings.h"
#include "common/text.h"

namespace parlex2 {
namespace {

class ProfileSettingsStore final : public SettingsStore {
 public:
  explicit ProfileSettingsStore(std::string path) : path_(std::move(path)) {}

  int GetInt(std::string_view section, std::string_view key, int defaultValue) override {
    return static_cast<int>(GetPrivateProfileIntA(
        std::string(section).c_str(), std::string(key).c_str(), defaultValue, path_.c_str()));
  }

  std::string GetString(std::string_view section, std::string_view key,
                        std::string_view defaultValue, std::size_t maxLength) override {
    std::vector<char> buffer(maxLength + 1, '\0');
    DWORD length = GetPrivateProfileStringA(std::string(section).c_str(), std::string(key).c_str(),
                                            std::string(defaultValue).c_str(), buffer.data(),
                                            static_cast<DWORD>(buffer.size()), path_.c_str());
    return std::string(buffer.data(), length);
  }

  bool PutString(std::string_view section, std::string_view key, std::string_view value) override {
    return WritePrivateProfileStringA(std::string(section).c_str(), std::string(key).c_str(),
                                      std::string(value).c_str(), path_.c_str()) != FALSE;
  }

 private:
  std::string path_;
};

constexpr int kCsidlLocalAppData = 28;   // CSIDL_LOCAL_APPDATA
constexpr DWORD kFolderDefaultPath = 1;  // SHGFP_TYPE_DEFAULT

// SHGetFolderPathA, taken from SHFOLDER.DLL at run time, which exists on every
// Windows version the program runs on.
std::string ShellLocalAppDataFolder() {
  using GetFolderPath = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPSTR);
  std::string folder;
  HMODULE library = LoadLibraryA("SHFOLDER.DLL");
  if (!library) return folder;
  auto get = reinterpret_cast<GetFolderPath>(
      reinterpret_cast<void*>(GetProcAddress(library, "SHGetFolderPathA")));
  char path[MAX_PATH] = {};
  if (get && SUCCEEDED(get(nullptr, kCsidlLocalAppData, nullptr, kFolderDefaultPath, path))) {
    folder = path;
  }
  FreeLibrary(library);
  return folder;
}

}  // namespace

std::unique_ptr<SettingsStore> OpenSettingsStore(const std::string& path) {
  return std::make_unique<ProfileSettingsStore>(path);
}

std::string SettingsBaseFolder() {
  std::string folder = ShellLocalAppDataFolder();
  if (!folder.empty()) return folder;
  char local[MAX_PATH + 1] = {};
  const DWORD localLength = GetEnvironmentVariableA("LOCALAPPDATA", local, sizeof local);
  if (localLength > 0 && localLength < sizeof local) return std::string(local, localLength);
  char temp[MAX_PATH + 1] = {};
  DWORD length = GetTempPathA(sizeof temp, temp);
  if (length > 0 && length < sizeof temp) {
    folder.assign(temp, length);
    while (folder.size() > 3 && IsPathSeparator(folder.back())) folder.pop_back();
    return folder;
  }
  return "C:";
}

SettingsFile DefaultSettingsFile() { return LocateSettingsFile(SettingsBaseFolder(), '\\'); }

}  // namespace parlex2
