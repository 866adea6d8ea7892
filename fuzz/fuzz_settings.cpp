// The settings file as a user may have edited it by hand, read and then
// written through the portable INI store.
//
// Properties: a text read is never longer than asked and never spans lines;
// the connection settings keep their field limits; a value written reads back
// as written while every other key keeps its value; writing the same value
// twice leaves the file as the first write did.
#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "app/settings.h"
#include "fuzz_check.h"
#include "support/temp_folder.h"

using namespace parlex2;

namespace {

const std::string& IniPath() {
  static const testing::TempFolder folder("parlex2-fuzz-settings");
  static const std::string path = folder.File("Parlexer.ini");
  return path;
}

struct Key {
  const char* section;
  const char* key;
};
constexpr Key kKeys[] = {
    {kSectionInit, kKeyCreated},         {kSectionInit, kKeyMainWindowHeight},
    {kSectionInit, kKeyMainWindowWidth}, {kSectionConnect, kKeyInterface},
    {kSectionConnect, kKeyComPort},      {kSectionConnect, kKeyBaudRate},
    {kSectionConnect, kKeyIpAddr},
};

std::vector<std::string> ReadAll(SettingsStore& store) {
  std::vector<std::string> values;
  for (const Key& k : kKeys) values.push_back(store.GetString(k.section, k.key, "<none>"));
  return values;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::size_t which = input.ConsumeIntegralInRange<std::size_t>(0, std::size(kKeys) - 1);
  std::string value;
  for (char c : input.ConsumeRandomLengthString(40)) {
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == ':' || c == ' ') value += c;
  }
  while (!value.empty() && value.front() == ' ') value.erase(0, 1);
  while (!value.empty() && value.back() == ' ') value.pop_back();
  const std::string file = input.ConsumeBytesAsString(input.remaining_bytes());
  std::ofstream(IniPath(), std::ios::binary | std::ios::trunc) << file;

  IniFileStore store(IniPath());
  const std::size_t maxLength = 1 + size % 160;
  for (const Key& k : kKeys) {
    const std::string text = store.GetString(k.section, k.key, "", maxLength);
    FUZZ_CHECK(text.size() <= maxLength);
    FUZZ_CHECK(text.find('\n') == std::string::npos);
    store.GetInt(k.section, k.key, -1);
  }
  ConnectionSettings settings;
  LoadConnectionSettings(store, settings);
  FUZZ_CHECK(settings.comPort.size() <= kComPortNameLimit);
  FUZZ_CHECK(settings.ipAddress.size() <= kIpAddressMax);

  std::vector<std::string> before = ReadAll(store);
  FUZZ_CHECK(store.PutString(kKeys[which].section, kKeys[which].key, value));
  std::vector<std::string> after = ReadAll(store);
  FUZZ_CHECK(after[which] == value.substr(0, kSettingsTextMax));
  before[which] = after[which];
  FUZZ_CHECK(before == after);
  const std::string written = parlex2::testing::ReadFileBytes(IniPath());
  FUZZ_CHECK(store.PutString(kKeys[which].section, kKeys[which].key, value));
  FUZZ_CHECK(parlex2::testing::ReadFileBytes(IniPath()) == written);
  return 0;
}
