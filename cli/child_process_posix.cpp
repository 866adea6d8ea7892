#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>

#include "cli/child_process.h"
#include "common/system_error.h"

extern char** environ;

namespace parlex2::cli {
namespace {

// The status channel's number in the child.
constexpr int kChildStatusFd = 3;
// Pipe ends are moved to at least this number, so that none of them is one
// of the numbers the child's ends are given (a dup2 onto itself would keep
// its close-on-exec flag).
constexpr int kLowestPipeFd = 10;
constexpr auto kStopGrace = std::chrono::seconds(2);

std::string SystemError(const std::string& what, int error) {
  return what + ": " + SystemErrorText(error);
}

bool Pipe(int ends[2], std::string& error) {
  int raw[2];
  if (pipe2(raw, O_CLOEXEC) != 0) {
    error = SystemError("pipe", errno);
    return false;
  }
  for (int i = 0; i < 2; ++i) {
    ends[i] = fcntl(raw[i], F_DUPFD_CLOEXEC, kLowestPipeFd);
    close(raw[i]);
  }
  if (ends[0] < 0 || ends[1] < 0) {
    error = SystemError("pipe", errno);
    if (ends[0] >= 0) close(ends[0]);
    if (ends[1] >= 0) close(ends[1]);
    return false;
  }
  return true;
}

volatile sig_atomic_t interrupted = 0;
void OnInterrupt(int) { interrupted = 1; }

int statusChannel = -1;
std::mutex statusMutex;

}  // namespace

std::string OwnExecutablePath(std::string& error) {
  std::string path(4096, '\0');
  const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
  if (n <= 0 || static_cast<std::size_t>(n) >= path.size()) {
    error = SystemError("cannot find this program's own path (/proc/self/exe)", errno);
    return {};
  }
  path.resize(static_cast<std::size_t>(n));
  return path;
}

struct ChildPool::Impl {
  struct Child {
    std::size_t id;
    pid_t pid;
    int fds[3];  // read ends: output, error, status; -1 once at their end
  };
  std::vector<Child> children;
  bool stopping = false;
  std::chrono::steady_clock::time_point killAt;

  void Reap(Child& child, const ChildEvents& events) {
    int status = 0;
    rusage usage{};
    while (wait4(child.pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    ChildExit exit;
    if (WIFEXITED(status)) exit.code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) exit.signal = WTERMSIG(status);
    exit.peakKiB = static_cast<std::uint64_t>(usage.ru_maxrss);  // KiB on Linux
    if (events.exited) events.exited(child.id, exit);
  }
};

ChildPool::ChildPool() : impl_(std::make_unique<Impl>()) {}

ChildPool::~ChildPool() {
  for (auto& child : impl_->children) {
    kill(child.pid, SIGKILL);
    for (int fd : child.fds) {
      if (fd >= 0) close(fd);
    }
    while (waitpid(child.pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
}

bool ChildPool::Start(std::size_t id, const std::string& program,
                      const std::vector<std::string>& arguments, std::string& error) {
  int pipes[3][2] = {{-1, -1}, {-1, -1}, {-1, -1}};
  auto closeAll = [&] {
    for (auto& ends : pipes) {
      for (int fd : ends) {
        if (fd >= 0) close(fd);
      }
    }
  };
  for (auto& ends : pipes) {
    if (!Pipe(ends, error)) {
      closeAll();
      return false;
    }
  }
  std::vector<std::string> words{program, kStatusChannelOption, std::to_string(kChildStatusFd)};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipes[0][1], 1);
  posix_spawn_file_actions_adddup2(&actions, pipes[1][1], 2);
  posix_spawn_file_actions_adddup2(&actions, pipes[2][1], kChildStatusFd);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // The parent catches these and may ignore SIGPIPE; the child starts with
  // every signal as a program normally does.
  sigset_t defaults, none;
  sigemptyset(&defaults);
  for (int s : {SIGINT, SIGTERM, SIGPIPE, SIGHUP}) sigaddset(&defaults, s);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  pid_t pid = -1;
  const int result =
      posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  for (auto& ends : pipes) {
    close(ends[1]);
    ends[1] = -1;
  }
  if (result != 0) {
    error = SystemError("cannot start " + program, result);
    closeAll();
    return false;
  }
  impl_->children.push_back({id, pid, {pipes[0][0], pipes[1][0], pipes[2][0]}});
  return true;
}

std::size_t ChildPool::Running() const { return impl_->children.size(); }

void ChildPool::Wait(int timeoutMs, const ChildEvents& events) {
  auto& children = impl_->children;
  if (impl_->stopping && std::chrono::steady_clock::now() >= impl_->killAt) {
    for (auto& child : children) kill(child.pid, SIGKILL);
  }
  std::vector<pollfd> polled;
  std::vector<std::pair<std::size_t, int>> owners;  // child index, stream
  for (std::size_t i = 0; i < children.size(); ++i) {
    for (int s = 0; s < 3; ++s) {
      if (children[i].fds[s] < 0) continue;
      polled.push_back({children[i].fds[s], POLLIN, 0});
      owners.emplace_back(i, s);
    }
  }
  if (!polled.empty()) {
    // A signal (Ctrl+C) ends the wait early with EINTR.
    if (poll(polled.data(), polled.size(), timeoutMs) < 0) return;
  } else if (children.empty()) {
    return;
  }
  char buffer[65536];
  for (std::size_t k = 0; k < polled.size(); ++k) {
    if (polled[k].revents == 0) continue;
    auto& [index, stream] = owners[k];
    Impl::Child& child = children[index];
    const ssize_t n = read(child.fds[stream], buffer, sizeof buffer);
    if (n > 0) {
      if (events.output) {
        events.output(child.id, static_cast<ChildStream>(stream),
                      std::string_view(buffer, static_cast<std::size_t>(n)));
      }
    } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
      close(child.fds[stream]);
      child.fds[stream] = -1;
    }
  }
  // A child whose pipes have all ended has exited (or is about to).
  for (std::size_t i = 0; i < children.size();) {
    const int* fds = children[i].fds;
    if (fds[0] < 0 && fds[1] < 0 && fds[2] < 0) {
      impl_->Reap(children[i], events);
      children.erase(children.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      ++i;
    }
  }
}

void ChildPool::StopAll() {
  if (impl_->stopping) return;
  impl_->stopping = true;
  impl_->killAt = std::chrono::steady_clock::now() + kStopGrace;
  for (auto& child : impl_->children) kill(child.pid, SIGTERM);
}

void CatchInterrupts() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: poll returns at once
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  // As many descriptors as the system allows: three pipes per instrument.
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

bool InterruptRequested() { return interrupted != 0; }

bool OpenStatusChannel(const std::string& value) {
  char* end = nullptr;
  const long fd = std::strtol(value.c_str(), &end, 10);
  if (value.empty() || *end != '\0' || fd < 0 || fd > 65535) return false;
  if (fcntl(static_cast<int>(fd), F_GETFD) < 0) return false;
  fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
  statusChannel = static_cast<int>(fd);
  return true;
}

bool StatusChannelOpen() { return statusChannel >= 0; }

void SendStatus(std::string_view key, std::string_view value) {
  if (statusChannel < 0) return;
  std::string line(key);
  line += ' ';
  for (char c : value) line += (c == '\n' || c == '\r') ? ' ' : c;
  line += '\n';
  std::lock_guard<std::mutex> lock(statusMutex);
  std::size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = write(statusChannel, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

void EndWithParent() {
#ifdef __linux__
  const pid_t parent = getppid();
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != parent) _exit(1);  // the parent went before the signal was set
#endif
}

}  // namespace parlex2::cli
