#include "link/comms_log.h"

#include <sys/stat.h>

#include <cstdio>
#include <mutex>
#ifdef _WIN32
#include <direct.h>
#endif

#include "common/clock.h"
#include "common/debug_output.h"
#include "common/product.h"
#include "common/text.h"
#include "common/ui.h"

namespace parlex2 {
namespace {

constexpr std::size_t kLogPathMax = 259;

struct LogState {
  std::mutex mutex;
  bool loggingEnabled = false;
  std::string logPath;
  UserInterface* ui = nullptr;
  CommsLog::Echo echo = nullptr;
};

LogState& State() {
  static LogState state;
  return state;
}

// The path is the program's 8-bit text and goes to the C library's narrow
// calls at every step (the test for the file, its folders, the file itself),
// so on Windows all of them read it in the same code page: a name beyond
// ASCII that one step understood differently would switch logging off.
bool FileExists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

void MakeDirectory(const std::string& path) {
#ifdef _WIN32
  _mkdir(path.c_str());
#else
  mkdir(path.c_str(), 0777);
#endif
}

// Creates each leading part of `path` that ends at a path separator, from the
// root down; parts that exist already are fine.
void CreateDirectoriesAlong(const std::string& path) {
  for (std::size_t i = 1; i < path.size(); ++i) {
    if (IsPathSeparator(path[i])) MakeDirectory(path.substr(0, i));
  }
}

bool AppendToFile(const std::string& path, const std::string& text) {
  std::FILE* file = std::fopen(path.c_str(), "a");
  if (!file) return false;
  std::fwrite(text.data(), 1, text.size(), file);
  return std::fclose(file) == 0;
}

}  // namespace

void CommsLog::Write(std::string_view text, Clock& clock) {
  LogState& state = State();
  const LocalTime now = clock.Now();
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "[%02d:%02d:%02d.%03d] ", now.hour, now.minute, now.second,
                now.millisecond);
  std::string entry(stamp);
  entry += text;

  UserInterface* ui = nullptr;
  {
    std::lock_guard lock(state.mutex);
    // The echo comes first and under the lock, so it shows the entries in
    // the file's order whichever thread writes them.
    if (state.echo) state.echo(entry);
    if (!state.loggingEnabled || state.logPath.empty()) {
      DebugOutput(entry);
      return;
    }
    const std::string& path = state.logPath;
    if (!FileExists(path)) {
      char header[256];
      std::snprintf(
          header, sizeof header,
          "%s %s CommsLog\nSoftware Version %s_%s (build %s)\n%s***\tLOG FILE OPENED\t***\n",
          kCompanyWord, kProductName, kVersionMajor, kVersionMinor, kVersionBuild, stamp);
      CreateDirectoriesAlong(path);
      AppendToFile(path, header);
    }
    if (FileExists(path)) {
      AppendToFile(path, entry);  // an entry that cannot be written is lost silently
      return;
    }
    state.loggingEnabled = false;
    ui = state.ui;
  }
  // Shown outside the lock: the front end may pump messages while it asks.
  static constexpr char kMessage[] = "Error opening comms log for writing\nComms Logging disabled";
  if (ui) {
    ui->ShowMessage(kMessage, "Error", MessageIcon::None, MessageButtons::Ok, false);
  } else {
    DebugOutput(std::string(kMessage) + "\n");
  }
}

bool CommsLog::IsLoggingEnabled() {
  std::lock_guard lock(State().mutex);
  return State().loggingEnabled;
}

bool CommsLog::IsTraceKept() {
  std::lock_guard lock(State().mutex);
  return State().loggingEnabled || State().echo != nullptr;
}

void CommsLog::ToggleLogging() {
  std::lock_guard lock(State().mutex);
  State().loggingEnabled = !State().loggingEnabled;
}

void CommsLog::SetLogPath(std::string_view path) {
  std::lock_guard lock(State().mutex);
  State().logPath = std::string(path.substr(0, kLogPathMax));
}

std::string CommsLog::GetLogPath() {
  std::lock_guard lock(State().mutex);
  return State().logPath;
}

void CommsLog::SetUserInterface(UserInterface* ui) {
  std::lock_guard lock(State().mutex);
  State().ui = ui;
}

void CommsLog::SetEcho(Echo echo) {
  std::lock_guard lock(State().mutex);
  State().echo = echo;
}

}  // namespace parlex2
