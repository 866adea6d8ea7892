#include "app/settings.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "common/product.h"
#include "common/text.h"

namespace parlex2 {
namespace {

constexpr int kReferenceWidth = 808;
constexpr int kReferenceHeight = 608;
// The reference size was measured with a 4-pixel sizing frame; thicker frames
// take the difference from the client area on both sides.
constexpr int kDesignFrame = 4;

std::string& IniPathStorage() {
  static std::string path;
  return path;
}

int FrameAllowance(int frame) { return frame > kDesignFrame ? 2 * (frame - kDesignFrame) : 0; }

}  // namespace

SettingsFile LocateSettingsFile(std::string_view baseFolder, char separator) {
  SettingsFile file;
  file.companyFolder = std::string(baseFolder) + separator + kCompanyWord;
  file.folder = file.companyFolder + separator + kFolderWord;
  file.path = file.folder + separator + kFolderWord + ".ini";
  return file;
}

const std::string& SettingsIniPath() { return IniPathStorage(); }

void SetSettingsIniPath(std::string path) { IniPathStorage() = std::move(path); }

std::string FormatCreated(const LocalTime& time) {
  char text[64];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d %d/%d/%d", time.hour, time.minute, time.second,
                time.day, time.month, time.year);
  return text;
}

bool CreateSettingsFileIfMissing(const SettingsFile& file, SettingsStore& store,
                                 const LocalTime& now) {
  std::error_code error;
  if (std::filesystem::exists(std::filesystem::path(file.path), error)) return false;
  // The whole folder path: the base folder itself ($XDG_CONFIG_HOME, ~/.config)
  // may not exist yet. One that cannot be made is not an error here.
  std::filesystem::create_directories(std::filesystem::path(file.folder), error);
  store.PutString(kSectionInit, kKeyCreated, FormatCreated(now));
  return true;
}

std::unique_ptr<SettingsStore> OpenDefaultSettings(const LocalTime& now) {
  const SettingsFile file = DefaultSettingsFile();
  SetSettingsIniPath(file.path);
  std::unique_ptr<SettingsStore> store = OpenSettingsStore(file.path);
  CreateSettingsFileIfMissing(file, *store, now);
  return store;
}

void LoadConnectionSettings(SettingsStore& store, ConnectionSettings& settings) {
  // The file is the user's to edit: a number that names no interface means
  // none, and a baud rate that is not positive or past any serial line's
  // speed is no rate at all. A rate outside the dialog's list is kept, as a
  // user may have written it for an adapter that supports it.
  const int kind = store.GetInt(kSectionConnect, kKeyInterface, 0);
  settings.interfaceKind = kind >= static_cast<int>(InterfaceKind::None) &&
                                   kind <= static_cast<int>(InterfaceKind::Serial)
                               ? static_cast<InterfaceKind>(kind)
                               : InterfaceKind::None;
  settings.comPort = Truncated(store.GetString(kSectionConnect, kKeyComPort, "", kSettingsTextMax),
                               kComPortNameLimit);
  const int baud = store.GetInt(kSectionConnect, kKeyBaudRate, 0);
  settings.baudRate =
      baud > 0 && baud <= static_cast<int>(kHighestBaudRate) ? static_cast<std::uint32_t>(baud) : 0;
  settings.ipAddress =
      Truncated(store.GetString(kSectionConnect, kKeyIpAddr, "", kSettingsTextMax), kIpAddressMax);
}

bool SaveConnectionSettings(SettingsStore& store, const ConnectionSettings& settings) {
  bool written = store.PutString(kSectionConnect, kKeyInterface,
                                 std::to_string(static_cast<int>(settings.interfaceKind)));
  written = store.PutString(kSectionConnect, kKeyComPort, settings.comPort) && written;
  written = store.PutString(kSectionConnect, kKeyBaudRate,
                            std::to_string(static_cast<int>(settings.baudRate))) &&
            written;
  return store.PutString(kSectionConnect, kKeyIpAddr, settings.ipAddress) && written;
}

bool LoadTimeStamps(SettingsStore& store) {
  return store.GetInt(kSectionInit, kKeyTimeStamps, 0) == 1;
}

void SaveTimeStamps(SettingsStore& store, bool on) {
  store.PutString(kSectionInit, kKeyTimeStamps, on ? "1" : "0");
}

std::optional<int> RestoredDimension(int stored, int screen) {
  if (stored > 0 && stored <= screen) return stored;
  return std::nullopt;
}

RestoredWindowSize LoadWindowSize(SettingsStore& store, WindowSize screen) {
  RestoredWindowSize size;
  size.height = RestoredDimension(store.GetInt(kSectionInit, kKeyMainWindowHeight, kNoStoredSize),
                                  screen.height);
  size.width = RestoredDimension(store.GetInt(kSectionInit, kKeyMainWindowWidth, kNoStoredSize),
                                 screen.width);
  return size;
}

void SaveWindowSize(SettingsStore& store, WindowSize current, WindowSize screen) {
  auto save = [&store](const char* key, int value, int screenValue) {
    if (value <= 0 || value > screenValue) return;
    if (store.GetInt(kSectionInit, key, kNoStoredSize) == value) return;
    store.PutString(kSectionInit, key, std::to_string(value));
  };
  save(kKeyMainWindowHeight, current.height, screen.height);
  save(kKeyMainWindowWidth, current.width, screen.width);
}

WindowSize ReferenceWindowSize(int sizingFrameWidth, int sizingFrameHeight) {
  return {kReferenceWidth + FrameAllowance(sizingFrameWidth),
          kReferenceHeight + FrameAllowance(sizingFrameHeight)};
}

WindowSize MinimumTrackingSize(WindowSize reference) {
  return {reference.width / 2, reference.height / 2};
}

}  // namespace parlex2
