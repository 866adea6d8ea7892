// Runs a shell command line and collects its standard output and exit status,
// for tests that drive the built programs.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace parlex2::testing {

struct CommandRun {
  int status = -1;  // the exit status, -1 when it did not exit normally
  std::string out;
};

inline CommandRun RunCommand(const std::string& commandLine) {
  CommandRun run;
  FILE* pipe = popen(commandLine.c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

}  // namespace parlex2::testing
