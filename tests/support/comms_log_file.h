// The process-wide comms log for one test: writing to `path` while the object
// lives, and afterwards as every test finds it (off, no path, no user
// interface, no echo), whatever the test switched.
#pragma once

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "link/comms_log.h"

namespace parlex2::testing {

class CommsLogFile {
 public:
  CommsLogFile() = default;  // only the clean-up at the end
  explicit CommsLogFile(const std::string& path) {
    CommsLog::SetLogPath(path);
    if (!CommsLog::IsLoggingEnabled()) CommsLog::ToggleLogging();
  }
  ~CommsLogFile() {
    if (CommsLog::IsLoggingEnabled()) CommsLog::ToggleLogging();
    CommsLog::SetLogPath("");
    CommsLog::SetUserInterface(nullptr);
    CommsLog::SetEcho(nullptr);
  }
  CommsLogFile(const CommsLogFile&) = delete;
  CommsLogFile& operator=(const CommsLogFile&) = delete;
};

// A log file's text, read back as in text mode (line ends as "\n"). Opened
// by its 8-bit name, as the log opens it.
inline std::string CommsLogText(const std::string& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  std::string text(std::istreambuf_iterator<char>(in), {});
  std::erase(text, '\r');
  return text;
}

// A log file's time-stamped lines without their "[hh:mm:ss.mmm] "; the
// header's lines, which have no stamp, are left out.
inline std::vector<std::string> CommsLogEntries(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> entries;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();  // a text file on Windows
    if (line.size() > 15 && line[0] == '[' && line[13] == ']') entries.push_back(line.substr(15));
  }
  return entries;
}

}  // namespace parlex2::testing
