#include <io.h>
#include <windows.h>

#include <cstdio>

#include "cli/cli.h"

namespace parlex2::cli {

bool StandardOutputIsTerminal() { return _isatty(_fileno(stdout)) != 0; }

bool TerminalSize(int& columns, int& rows) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return false;
  columns = info.srWindow.Right - info.srWindow.Left + 1;
  rows = info.srWindow.Bottom - info.srWindow.Top + 1;
  return columns > 20 && rows > 3;
}

bool LiveTerminal() {
  if (!StandardOutputIsTerminal()) return false;
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (!GetConsoleMode(out, &mode)) return false;
  return SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

}  // namespace parlex2::cli
