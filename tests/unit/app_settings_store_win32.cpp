// The portable INI store must leave a file exactly as the Windows profile
// functions would, so the command line and the Windows program can share one
// settings file. Each case does the same thing through both stores and
// compares the bytes and the answers.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "app/settings.h"
#include "support/temp_folder.h"

namespace parlex2 {
namespace {

namespace fs = std::filesystem;

class StoreParity : public ::testing::Test {
 protected:
  void SetUp() override {
    profilePath_ = folder_.File("profile.ini");
    iniPath_ = folder_.File("portable.ini");
    profile_ = OpenSettingsStore(profilePath_);
    portable_ = std::make_unique<IniFileStore>(iniPath_);
  }
  void Seed(const std::string& text) {
    std::ofstream(profilePath_, std::ios::binary) << text;
    std::ofstream(iniPath_, std::ios::binary) << text;
  }

  void Both(const std::function<void(SettingsStore&)>& action) {
    action(*profile_);
    action(*portable_);
  }

  void ExpectSameFiles() {
    EXPECT_EQ(testing::ReadFileBytes(iniPath_), testing::ReadFileBytes(profilePath_));
  }

  testing::TempFolder folder_{"parlex2-parity"};  // first, so it goes last
  std::string profilePath_;
  std::string iniPath_;
  std::unique_ptr<SettingsStore> profile_;
  std::unique_ptr<SettingsStore> portable_;
};

TEST_F(StoreParity, ProgramLifetimeWritesGiveTheSameFile) {
  const LocalTime now{.year = 2025, .month = 7, .day = 14, .hour = 9, .minute = 5, .second = 30};
  Both([&](SettingsStore& store) {
    store.PutString(kSectionInit, kKeyCreated, FormatCreated(now));
  });
  ExpectSameFiles();
  Both([](SettingsStore& store) { SaveWindowSize(store, {900, 650}, {1280, 1024}); });
  ExpectSameFiles();
  ConnectionSettings lan;
  lan.interfaceKind = InterfaceKind::Lan;
  lan.ipAddress = "127.0.0.1";
  Both([&](SettingsStore& store) { SaveConnectionSettings(store, lan); });
  ExpectSameFiles();
  lan.interfaceKind = InterfaceKind::Serial;
  lan.comPort = "COM7";
  lan.baudRate = 9600;
  Both([&](SettingsStore& store) { SaveConnectionSettings(store, lan); });
  Both([](SettingsStore& store) { SaveWindowSize(store, {1000, 650}, {1280, 1024}); });
  ExpectSameFiles();
}

// Including a value longer than a setting may be: both cut it alike.
TEST_F(StoreParity, HandWrittenFileReadsTheSame) {
  Seed(
      "; note\r\n[connect]\r\n  INTERFACE = 2 \r\nComPort=\"COM4\"\r\nIPAddr= '10.0.0.1' \r\n"
      "BaudRate=\r\nHeight=-1\r\nWidth=12abc\r\nJunk=abc\r\nNoEquals\r\n\r\n[Other]\r\nComPort="
      "COM9\r\n[Long]\r\nComPort=" +
      std::string(300, 'P') + "\r\n");
  for (const char* key :
       {"Interface", "BaudRate", "Height", "Width", "Junk", "NoEquals", "Missing"}) {
    EXPECT_EQ(portable_->GetInt("Connect", key, 7), profile_->GetInt("Connect", key, 7)) << key;
  }
  for (const char* key : {"ComPort", "IPAddr", "BaudRate", "Missing"}) {
    EXPECT_EQ(portable_->GetString("Connect", key, "dflt"),
              profile_->GetString("Connect", key, "dflt"))
        << key;
  }
  EXPECT_EQ(portable_->GetString("OTHER", "comport", ""),
            profile_->GetString("OTHER", "comport", ""));
  EXPECT_EQ(portable_->GetString("Connect", "ComPort", "", 3),
            profile_->GetString("Connect", "ComPort", "", 3));
  const std::string cut = portable_->GetString("Long", "ComPort", "");
  EXPECT_EQ(cut.size(), kSettingsTextMax);
  EXPECT_EQ(cut, profile_->GetString("Long", "ComPort", ""));

  Both([](SettingsStore& store) {
    store.PutString("Connect", "BaudRate", "9600");
    store.PutString("connect", "New", "x");
    store.PutString("Init", "MainWindowWidth", "900");
  });
  ExpectSameFiles();
}

}  // namespace
}  // namespace parlex2
