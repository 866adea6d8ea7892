// The per-user settings file Parlexer.ini: where it lives, its sections and
// keys, and the rules for what is read at start-up and written at shutdown.
//
// The file is reached only through a SettingsStore, so the rules here are the
// same for the Windows program (the system's private-profile functions) and the
// command line (a plain INI file of the same format). All calls come from the
// UI thread (or the command line's main thread).
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/clock.h"
#include "link/instrument_link.h"

namespace parlex2 {

inline constexpr char kSectionInit[] = "Init";
inline constexpr char kSectionConnect[] = "Connect";

inline constexpr char kKeyCreated[] = "Created";
inline constexpr char kKeyMainWindowHeight[] = "MainWindowHeight";
inline constexpr char kKeyMainWindowWidth[] = "MainWindowWidth";
inline constexpr char kKeyTimeStamps[] = "TimeStamps";
inline constexpr char kKeyInterface[] = "Interface";
inline constexpr char kKeyComPort[] = "ComPort";
inline constexpr char kKeyBaudRate[] = "BaudRate";
inline constexpr char kKeyIpAddr[] = "IPAddr";

// Text values are read into 128-byte buffers: at most 127 characters.
inline constexpr std::size_t kSettingsTextMax = 127;
inline constexpr int kNoStoredSize = -1;

// One section/key store of texts. Reads never fail: a missing file, section or
// key gives the default. Writes create the file and the section as needed.
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;

  // The key's value as a decimal integer (leading blanks and a sign allowed,
  // reading stops at the first other character, no digits give 0);
  // `defaultValue` when the key is absent or its value is empty.
  virtual int GetInt(std::string_view section, std::string_view key, int defaultValue) = 0;

  // The key's value without surrounding blanks or one pair of surrounding
  // quotes, cut to `maxLength` characters; `defaultValue` when absent.
  virtual std::string GetString(std::string_view section, std::string_view key,
                                std::string_view defaultValue,
                                std::size_t maxLength = kSettingsTextMax) = 0;

  // Sets the key's value. False when the file could not be written (callers
  // never report that: nobody can act on it).
  virtual bool PutString(std::string_view section, std::string_view key,
                         std::string_view value) = 0;
};

// A plain INI file in the format the Windows profile functions write: one
// "[Section]" line per section, "key=value" lines, CR LF line ends, sections
// and keys matched without regard to case, other lines kept as they are.
class IniFileStore final : public SettingsStore {
 public:
  explicit IniFileStore(std::string path) : path_(std::move(path)) {}

  int GetInt(std::string_view section, std::string_view key, int defaultValue) override;
  std::string GetString(std::string_view section, std::string_view key,
                        std::string_view defaultValue,
                        std::size_t maxLength = kSettingsTextMax) override;
  bool PutString(std::string_view section, std::string_view key, std::string_view value) override;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The store the program uses for the file at `path`: the system's profile
// functions on Windows, an IniFileStore elsewhere.
std::unique_ptr<SettingsStore> OpenSettingsStore(const std::string& path);

// Folder and file of the settings: <base>\Veltmark\Parlexer\Parlexer.ini.
struct SettingsFile {
  std::string companyFolder;  // <base>\Veltmark
  std::string folder;         // <base>\Veltmark\Parlexer
  std::string path;           // <base>\Veltmark\Parlexer\Parlexer.ini
};

SettingsFile LocateSettingsFile(std::string_view baseFolder, char separator);

// The folder the settings live below. Windows: the user's local (non-roaming)
// application data folder; when the shell cannot name it, %LOCALAPPDATA%, and
// failing that the user's temporary folder, which always exists and is the
// user's own. Elsewhere: $XDG_CONFIG_HOME, else $HOME/.config, else /tmp.
std::string SettingsBaseFolder();

// LocateSettingsFile(SettingsBaseFolder(), the platform's separator).
SettingsFile DefaultSettingsFile();

// The full path of the settings file for the whole run: set once at start-up,
// then the one place every reader and writer of settings takes it from.
const std::string& SettingsIniPath();
void SetSettingsIniPath(std::string path);

// "Created" value: "%02d:%02d:%02d %d/%d/%d" (hour, minute, second, day,
// month, year), e.g. "09:05:30 7/3/2025".
std::string FormatCreated(const LocalTime& time);

// On first run (no file yet): creates the settings folder with every folder
// above it that is missing (failures ignored: the write then fails quietly
// and defaults rule) and writes "Created" with `now`. True when the file did
// not exist.
bool CreateSettingsFileIfMissing(const SettingsFile& file, SettingsStore& store,
                                 const LocalTime& now);

// The settings of this user for a run: locates the file (DefaultSettingsFile),
// makes it the run's SettingsIniPath, creates it on first run with "Created"
// at `now`, and opens its store.
std::unique_ptr<SettingsStore> OpenDefaultSettings(const LocalTime& now);

// Reads the "Connect" section into `settings`: "Interface" and "BaudRate" as
// integers (0 when absent), "ComPort" and "IPAddr" as texts of at most 127
// characters (empty when absent), of which 6 and 15 are kept.
void LoadConnectionSettings(SettingsStore& store, ConnectionSettings& settings);

// Writes the "Connect" section from `settings` (the connection form's "Save
// as Default"): integers in decimal. False when a value could not be written.
bool SaveConnectionSettings(SettingsStore& store, const ConnectionSettings& settings);

// The "Time Stamps" switch, in "Init": "1" on, anything else (or nothing) off.
bool LoadTimeStamps(SettingsStore& store);
void SaveTimeStamps(SettingsStore& store, bool on);

struct WindowSize {
  int width = 0;
  int height = 0;
};

// A stored window dimension is used only when it is positive and fits the
// screen in that direction.
std::optional<int> RestoredDimension(int stored, int screen);

// The saved size, each dimension only where it fits the screen.
struct RestoredWindowSize {
  std::optional<int> width;
  std::optional<int> height;
};
RestoredWindowSize LoadWindowSize(SettingsStore& store, WindowSize screen);

// At shutdown: writes each dimension of `current` that is positive, fits the
// screen and differs from the stored value; height first, then width.
void SaveWindowSize(SettingsStore& store, WindowSize current, WindowSize screen);

// The outer size the layout measures growth against: 808 x 608, each enlarged
// by twice the amount by which the sizing frame is thicker than 4 pixels.
WindowSize ReferenceWindowSize(int sizingFrameWidth, int sizingFrameHeight);

// The smallest size the user can drag the window to: half the reference size.
WindowSize MinimumTrackingSize(WindowSize reference);

}  // namespace parlex2
