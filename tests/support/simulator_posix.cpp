#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <utility>

#include "sim/transcript.h"
#include "simulator.h"

namespace parlex2::testing {

Simulator::Simulator(std::string program) : program_(std::move(program)) {}

Simulator::~Simulator() { Stop(); }

bool Simulator::Start(const std::vector<std::string>& options, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  if (Running()) return fail("already running");
  std::vector<std::string> args = {program_};
  args.insert(args.end(), options.begin(), options.end());
  args.insert(args.end(), {"--transcript", directory_.File("transcript.txt"), "--flash",
                           directory_.File("flash.txt")});
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  // Its standard output goes to a file, read until "ready" (not an earlier
  // run's).
  const std::string output = directory_.File("output.txt");
  std::filesystem::remove(output);
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ == 0) {
    // A simulator never ends on its own; one whose test was killed would
    // serve, or hang in its sanitizer's exit, for ever.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (getppid() != parent || out < 0 || dup2(out, STDOUT_FILENO) < 0) _exit(127);
    execv(argv[0], argv.data());
    _exit(127);
  }
  for (int waited = 0; Running() && waited < 10000; waited += 10) {
    if (("\n" + Output()).find("\nready\n") != std::string::npos) return true;
    WaitExit(10);
  }
  Stop(SIGKILL);
  return fail("parlex2-sim did not get ready; it printed: " + Output());
}

bool Simulator::Stop(int signal) {
  if (!Running()) return false;
  kill(pid_, signal);
  const std::optional<int> status = WaitExit(10000);
  if (!status) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  return status == 0;
}

std::optional<int> Simulator::WaitExit(int timeoutMs) {
  int status = 0;
  for (int waited = 0; Running(); waited += 5) {
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (waited >= timeoutMs) break;
    usleep(5000);
  }
  return std::nullopt;
}

std::string Simulator::Output() const { return ReadFileBytes(directory_.File("output.txt")); }

std::string Simulator::TranscriptText() const {
  return ReadFileBytes(directory_.File("transcript.txt"));
}

std::string Simulator::Bytes(bool received) const {
  std::string bytes;
  for (const auto& chunk : sim::ParseTranscript(TranscriptText())) {
    if (chunk.received == received) bytes += chunk.bytes;
  }
  return bytes;
}

std::string Simulator::Received() const { return Bytes(true); }

std::string Simulator::Sent() const { return Bytes(false); }

std::optional<sim::Flash> Simulator::ReadFlash() const {
  const std::string path = directory_.File("flash.txt");
  if (!std::filesystem::exists(path)) return std::nullopt;
  return sim::Flash::ParseDump(ReadFileBytes(path));
}

}  // namespace parlex2::testing
