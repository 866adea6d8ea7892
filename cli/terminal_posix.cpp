#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/cli.h"

namespace parlex2::cli {

bool StandardOutputIsTerminal() { return isatty(fileno(stdout)) != 0; }

bool TerminalSize(int& columns, int& rows) {
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return false;
  columns = size.ws_col;
  rows = size.ws_row;
  return columns > 20 && rows > 3;
}

bool LiveTerminal() {
  if (!StandardOutputIsTerminal()) return false;
  const char* term = std::getenv("TERM");  // NOLINT(concurrency-mt-unsafe): before any thread
  return term && std::string(term) != "dumb";
}

}  // namespace parlex2::cli
