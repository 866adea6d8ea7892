#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>

#include "cli/child_process.h"
#include "common/system_error.h"

namespace parlex2::cli {
namespace {

constexpr DWORD kStoppedExitCode = 130;  // as a POSIX shell reports Ctrl+C
constexpr auto kStopGrace = std::chrono::seconds(2);

std::string SystemError(const std::string& what, DWORD code) {
  std::string message = what + ": " + SystemErrorText(static_cast<int>(code));
  if (!message.empty() && message.back() == '.') message.pop_back();
  return message;
}

// One argument quoted as the C runtime reads a command line back: quotes
// around text with spaces, tabs or quotes; backslashes doubled before a quote.
void AppendQuoted(std::string& line, const std::string& argument) {
  if (!line.empty()) line += ' ';
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
    line += argument;
    return;
  }
  line += '"';
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') line.append(backslashes * 2 + 1, '\\');
    else line.append(backslashes, '\\');
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, '\\');
  line += '"';
}

std::atomic<bool> interrupted{false};
BOOL WINAPI OnConsoleEvent(DWORD) {
  interrupted = true;
  return TRUE;  // handled: the parent stops its children and ends itself
}

HANDLE statusChannel = nullptr;
HANDLE parentProcess = nullptr;  // a child's handle on its parent
std::mutex statusMutex;

}  // namespace

std::string OwnExecutablePath(std::string& error) {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) {
      error = SystemError("cannot find this program's own path", GetLastError());
      return {};
    }
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

struct ChildPool::Impl {
  // What the reader threads hand to the main thread.
  struct Chunk {
    std::size_t id;
    ChildStream stream;
    std::string bytes;  // empty: that stream ended
  };
  struct Child {
    std::size_t id;
    HANDLE process;
    int open = 3;  // streams not yet ended
    std::thread readers[3];
  };

  HANDLE job = nullptr;
  HANDLE self = nullptr;  // inherited by the children, which watch it
  std::vector<std::unique_ptr<Child>> children;
  std::mutex mutex;
  std::condition_variable arrived;
  std::deque<Chunk> chunks;
  bool stopping = false;
  std::chrono::steady_clock::time_point killAt;

  void Read(std::size_t id, ChildStream stream, HANDLE pipe) {
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) {
      std::lock_guard<std::mutex> lock(mutex);
      chunks.push_back({id, stream, std::string(buffer, got)});
      arrived.notify_one();
    }
    CloseHandle(pipe);
    std::lock_guard<std::mutex> lock(mutex);
    chunks.push_back({id, stream, {}});
    arrived.notify_one();
  }

  void Reap(Child& child, const ChildEvents& events) {
    WaitForSingleObject(child.process, INFINITE);
    ChildExit exit;
    DWORD code = 0;
    GetExitCodeProcess(child.process, &code);
    exit.code = static_cast<int>(code);
    PROCESS_MEMORY_COUNTERS memory{};
    if (GetProcessMemoryInfo(child.process, &memory, sizeof memory)) {
      exit.peakKiB = memory.PeakWorkingSetSize / 1024;
    }
    for (auto& reader : child.readers) {
      if (reader.joinable()) reader.join();
    }
    CloseHandle(child.process);
    if (events.exited) events.exited(child.id, exit);
  }
};

ChildPool::ChildPool() : impl_(std::make_unique<Impl>()) {
  // Children die with the parent, however it ends: the job is closed with
  // it, and each child watches this handle on the parent (Wine does not
  // always end a job's processes when the job goes).
  DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &impl_->self,
                  SYNCHRONIZE, TRUE, 0);
  impl_->job = CreateJobObjectA(nullptr, nullptr);
  if (impl_->job) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(impl_->job, JobObjectExtendedLimitInformation, &limits,
                            sizeof limits);
  }
}

ChildPool::~ChildPool() {
  for (auto& child : impl_->children) TerminateProcess(child->process, kStoppedExitCode);
  for (auto& child : impl_->children) impl_->Reap(*child, {});
  if (impl_->job) CloseHandle(impl_->job);
  if (impl_->self) CloseHandle(impl_->self);
}

bool ChildPool::Start(std::size_t id, const std::string& program,
                      const std::vector<std::string>& arguments, std::string& error) {
  // The write ends are inheritable only while this child is created (on this
  // one thread), so no other child holds them and each pipe ends with its
  // own child.
  HANDLE reads[3] = {}, writes[3] = {};
  auto closeAll = [&] {
    for (HANDLE h : reads) {
      if (h) CloseHandle(h);
    }
    for (HANDLE h : writes) {
      if (h) CloseHandle(h);
    }
  };
  for (int s = 0; s < 3; ++s) {
    if (!CreatePipe(&reads[s], &writes[s], nullptr, 0) ||
        !SetHandleInformation(writes[s], HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) {
      error = SystemError("cannot make a pipe", GetLastError());
      closeAll();
      return false;
    }
  }
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE input = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, nullptr);
  std::string line;
  AppendQuoted(line, program);
  AppendQuoted(line, kStatusChannelOption);
  AppendQuoted(line, std::to_string(reinterpret_cast<std::uintptr_t>(writes[2])) + ":" +
                         std::to_string(reinterpret_cast<std::uintptr_t>(impl_->self)));
  for (const auto& argument : arguments) AppendQuoted(line, argument);

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = writes[0];
  startup.hStdError = writes[1];
  PROCESS_INFORMATION info{};
  const BOOL created = CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                                      CREATE_SUSPENDED | CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info);
  const DWORD createError = GetLastError();
  if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
  for (HANDLE& h : writes) {
    CloseHandle(h);
    h = nullptr;
  }
  if (!created) {
    error = SystemError("cannot start " + program, createError);
    closeAll();
    return false;
  }
  if (impl_->job) AssignProcessToJobObject(impl_->job, info.hProcess);
  ResumeThread(info.hThread);
  CloseHandle(info.hThread);

  auto child = std::make_unique<Impl::Child>();
  child->id = id;
  child->process = info.hProcess;
  for (int s = 0; s < 3; ++s) {
    child->readers[s] = std::thread(&Impl::Read, impl_.get(), id, static_cast<ChildStream>(s),
                                    reads[s]);
  }
  impl_->children.push_back(std::move(child));
  return true;
}

std::size_t ChildPool::Running() const { return impl_->children.size(); }

void ChildPool::Wait(int timeoutMs, const ChildEvents& events) {
  if (impl_->stopping && std::chrono::steady_clock::now() >= impl_->killAt) {
    for (auto& child : impl_->children) TerminateProcess(child->process, kStoppedExitCode);
  }
  std::deque<Impl::Chunk> taken;
  {
    std::unique_lock<std::mutex> lock(impl_->mutex);
    impl_->arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [&] { return !impl_->chunks.empty() || interrupted.load(); });
    taken.swap(impl_->chunks);
  }
  for (auto& chunk : taken) {
    auto it = std::find_if(impl_->children.begin(), impl_->children.end(),
                           [&](const auto& c) { return c->id == chunk.id; });
    if (it == impl_->children.end()) continue;
    if (!chunk.bytes.empty()) {
      if (events.output) events.output(chunk.id, chunk.stream, chunk.bytes);
      continue;
    }
    if (--(*it)->open == 0) {
      impl_->Reap(**it, events);
      impl_->children.erase(it);
    }
  }
}

void ChildPool::StopAll() {
  if (impl_->stopping) return;
  impl_->stopping = true;
  // Windows has no polite request to a console program without a console
  // of its own: the children are ended at once.
  impl_->killAt = std::chrono::steady_clock::now() + kStopGrace;
  for (auto& child : impl_->children) TerminateProcess(child->process, kStoppedExitCode);
}

void CatchInterrupts() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

bool InterruptRequested() { return interrupted.load(); }

// "CHANNEL:PARENT": the status pipe's handle and the parent's process handle.
bool OpenStatusChannel(const std::string& value) {
  char* end = nullptr;
  const unsigned long long number = std::strtoull(value.c_str(), &end, 10);
  if (value.empty() || *end != ':' || number == 0) return false;
  const unsigned long long parent = std::strtoull(end + 1, &end, 10);
  if (*end != '\0' || parent == 0) return false;
  parentProcess = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(parent));
  HANDLE handle = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(number));
  if (GetFileType(handle) != FILE_TYPE_PIPE) return false;
  // No child of this child inherits it.
  SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0);
  statusChannel = handle;
  return true;
}

bool StatusChannelOpen() { return statusChannel != nullptr; }

void SendStatus(std::string_view key, std::string_view value) {
  if (!statusChannel) return;
  std::string line(key);
  line += ' ';
  for (char c : value) line += (c == '\n' || c == '\r') ? ' ' : c;
  line += '\n';
  std::lock_guard<std::mutex> lock(statusMutex);
  DWORD written = 0;
  WriteFile(statusChannel, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

void EndWithParent() {
  if (!parentProcess) return;
  SetHandleInformation(parentProcess, HANDLE_FLAG_INHERIT, 0);
  std::thread([] {
    if (WaitForSingleObject(parentProcess, INFINITE) == WAIT_OBJECT_0) {
      TerminateProcess(GetCurrentProcess(), kStoppedExitCode);
    }
  }).detach();
}

}  // namespace parlex2::cli
