#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "app/settings.h"
#include "support/temp_folder.h"

namespace parlex2 {
namespace {

namespace fs = std::filesystem;

using testing::ReadFileBytes;
using testing::TempFolder;

LocalTime At(int year, int month, int day, int hour, int minute, int second) {
  return {
      .year = year, .month = month, .day = day, .hour = hour, .minute = minute, .second = second};
}

auto Fields(const ConnectionSettings& s) {
  return std::tie(s.interfaceKind, s.comPort, s.ipAddress, s.baudRate);
}

SettingsFile Below(const fs::path& base) {
  return LocateSettingsFile(base.string(), static_cast<char>(fs::path::preferred_separator));
}

// The file is in the company's and the program's folders, named with the
// separator given. $XDG_CONFIG_HOME or ~/.config need not exist yet: the
// whole folder path is made, as the comms log makes its own.
TEST(SettingsFileTest, FirstRunMakesTheFoldersAndWritesOnlyCreatedWhichASavedConnectionKeeps) {
  EXPECT_EQ(LocateSettingsFile("C:\\Users\\ann\\AppData\\Local", '\\').path,
            "C:\\Users\\ann\\AppData\\Local\\Veltmark\\Parlexer\\Parlexer.ini");
  TempFolder temp;
  SettingsFile file = Below(temp.Path() / "home" / ".config");
  IniFileStore store(file.path);
  EXPECT_TRUE(CreateSettingsFileIfMissing(file, store, At(2025, 3, 7, 9, 5, 30)));
  EXPECT_TRUE(fs::is_directory(file.folder));
  // The time is padded, the date is not.
  EXPECT_EQ(ReadFileBytes(file.path), "[Init]\r\nCreated=09:05:30 7/3/2025\r\n");

  // A later run finds the file and never rewrites "Created"; the connection
  // saved beside it keeps the Init section and loads back.
  EXPECT_FALSE(CreateSettingsFileIfMissing(file, store, At(2026, 1, 2, 3, 4, 5)));
  ConnectionSettings saved{InterfaceKind::Lan, "COM3", "127.0.0.1", 19200};
  EXPECT_TRUE(SaveConnectionSettings(store, saved));
  EXPECT_EQ(ReadFileBytes(file.path),
            "[Init]\r\nCreated=09:05:30 7/3/2025\r\n[Connect]\r\nInterface=2\r\nComPort=COM3\r\n"
            "BaudRate=19200\r\nIPAddr=127.0.0.1\r\n");
  ConnectionSettings loaded;
  LoadConnectionSettings(store, loaded);
  EXPECT_EQ(Fields(loaded), Fields(saved));

  // With the folders already there, a missing file is still created.
  fs::remove(file.path);
  EXPECT_TRUE(CreateSettingsFileIfMissing(file, store, At(2025, 7, 14, 12, 0, 0)));
  EXPECT_EQ(ReadFileBytes(file.path), "[Init]\r\nCreated=12:00:00 14/7/2025\r\n");
}

TEST(SettingsFileTest, UncreatableFolderLeavesNoFileAndDefaultsRule) {
  TempFolder temp;
  // The "company folder" is a plain file, so no folder can be made below it.
  temp.Write("Veltmark", "not a folder");
  SettingsFile file = Below(temp.Path());
  IniFileStore store(file.path);
  EXPECT_TRUE(CreateSettingsFileIfMissing(file, store, At(2025, 1, 1, 0, 0, 0)));
  EXPECT_FALSE(fs::exists(file.path));
  // Saving the default connection there says that it failed.
  ConnectionSettings settings{InterfaceKind::Lan, "", "", 0};
  EXPECT_FALSE(SaveConnectionSettings(store, settings));
  // Loading from the absent file resets whatever the settings held.
  settings = {InterfaceKind::Serial, "COM9", "10.0.0.1", 9600};
  LoadConnectionSettings(store, settings);
  EXPECT_EQ(Fields(settings), Fields({}));
  EXPECT_EQ(LoadWindowSize(store, {1920, 1080}).width, std::nullopt);
}

// Values edited by hand load into the link's limits and valid ranges; a
// window size larger than any screen, or negative, is no size.
TEST(ConnectionSettingsTest, HandEditedValuesLoadIntoTheLinksLimits) {
#ifdef _WIN32
  const std::string cutPort = "COM123";
#else
  const std::string cutPort = "COM12345678";  // a device path such as /dev/ttyUSB0, kept whole
#endif
  struct Case {
    std::string connect;
    ConnectionSettings expected;
  };
  const Case cases[] = {
      {"Interface=3\r\nComPort=COM12345678\r\nBaudRate=38400\r\nIPAddr=192.168.100.200.extra",
       {InterfaceKind::Serial, cutPort, "192.168.100.200", 38400}},
      {"Interface=7\r\nBaudRate=-9600", {InterfaceKind::None, "", "", 0}},
      {"Interface=-1\r\nBaudRate=99999999999", {InterfaceKind::None, "", "", 0}},
      {"Interface=2147483648\r\nBaudRate=4000001", {InterfaceKind::None, "", "", 0}},
      // By hand: what follows the number is passed over.
      {"Interface=3 \x01\xff\r\nBaudRate=57600", {InterfaceKind::Serial, "", "", 57600}},
      {"Interface=\xff\xfe\r\nBaudRate=0x2580", {InterfaceKind::None, "", "", 0}},
  };
  TempFolder temp;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.connect);
    IniFileStore store(
        temp.Write("Parlexer.ini",
                   "[Init]\r\nMainWindowWidth=99999999999\r\nMainWindowHeight=-5\r\n[Connect]\r\n" +
                       c.connect + "\r\n"));
    ConnectionSettings settings;
    LoadConnectionSettings(store, settings);
    EXPECT_EQ(Fields(settings), Fields(c.expected));
    const RestoredWindowSize size = LoadWindowSize(store, {1920, 1080});
    EXPECT_EQ(size.width, std::nullopt);
    EXPECT_EQ(size.height, std::nullopt);
  }
}

// Off-screen or empty sizes are never stored; a valid one beside them is.
TEST(WindowSizeTest, ShutdownWritesOnlyValidDimensionsAndTheReferenceFollowsTheFrame) {
  TempFolder temp;
  IniFileStore store(temp.File("Parlexer.ini"));
  SaveWindowSize(store, {900, 650}, {1920, 1080});
  SaveWindowSize(store, {2000, 0}, {1920, 1080});
  SaveWindowSize(store, {-5, 1081}, {1920, 1080});
  EXPECT_EQ(store.GetInt(kSectionInit, kKeyMainWindowWidth, -1), 900);
  EXPECT_EQ(store.GetInt(kSectionInit, kKeyMainWindowHeight, -1), 650);
  SaveWindowSize(store, {1000, 1080}, {1920, 1080});
  EXPECT_EQ(store.GetInt(kSectionInit, kKeyMainWindowWidth, -1), 1000);
  EXPECT_EQ(store.GetInt(kSectionInit, kKeyMainWindowHeight, -1), 1080);

  // The reference size grows with thick sizing frames.
  EXPECT_EQ(ReferenceWindowSize(1, 4).width, 808);  // 4 pixels or thinner: nothing added
  WindowSize thick = ReferenceWindowSize(8, 5);
  EXPECT_EQ(thick.width, 816);
  EXPECT_EQ(thick.height, 610);
  EXPECT_EQ(MinimumTrackingSize({809, 607}).width, 404);
}

TEST(IniFileStoreTest, ReadsLikeTheProfileFunctions) {
  TempFolder temp;
  const std::string path = temp.Write(
      "x.ini",
      "; comment\r\n[connect]\r\n  INTERFACE = 2 \r\nComPort=\"COM4\"\r\nIPAddr= '10.0.0.1' \r\n"
      "BaudRate=\r\nHeight=-1\r\nWidth=12abc\r\nJunk=abc\r\nNoEquals\r\n[Other]\r\nComPort="
      "COM9\r\n");
  IniFileStore store(path);
  EXPECT_EQ(store.GetInt("Connect", "Interface", 7), 2);
  EXPECT_EQ(store.GetInt("Connect", "BaudRate", 7), 7);  // empty value: the default
  EXPECT_EQ(store.GetInt("Connect", "Height", 7), -1);
  EXPECT_EQ(store.GetInt("Connect", "Width", 7), 12);
  EXPECT_EQ(store.GetInt("Connect", "Junk", 7), 0);
  EXPECT_EQ(store.GetInt("Connect", "NoEquals", 7), 7);
  EXPECT_EQ(store.GetString("Connect", "ComPort", "x"), "COM4");
  EXPECT_EQ(store.GetString("Connect", "IPAddr", "x"), "10.0.0.1");
  EXPECT_EQ(store.GetString("Connect", "Missing", "dflt"), "dflt");
  EXPECT_EQ(store.GetString("Other", "ComPort", ""), "COM9");
  EXPECT_EQ(store.GetString("Connect", "ComPort", "", 3), "COM");
}

TEST(IniFileStoreTest, WritesKeepOtherLinesAndAddKeysToTheirOwnSection) {
  TempFolder temp;
  const std::string path =
      temp.Write("x.ini", "; kept\n[Init]\nCreated = 1 \n\n[Connect]\ninterface=1\nOdd line\n");
  IniFileStore store(path);
  EXPECT_TRUE(store.PutString("INIT", "MainWindowWidth", "900"));
  EXPECT_TRUE(store.PutString("Connect", "Interface", "2"));
  // Rewritten as the profile functions do: CR LF, no blank lines, no blanks
  // around names and values, keys added at the end of their own section.
  EXPECT_EQ(ReadFileBytes(path),
            "; kept\r\n[Init]\r\nCreated=1\r\nMainWindowWidth=900\r\n[Connect]\r\ninterface=2\r\n"
            "Odd line\r\n");
}

}  // namespace
}  // namespace parlex2
