#include "cli/console_shell_host.h"

#include <iostream>

#include "app/terminal.h"

namespace parlex2::cli {

void ConsoleShellHost::AppendText(std::string_view text) {
  BufferedShellHost::AppendText(text);
  for (char c : text) {
    if (c != '\r') out_.put(c);
  }
  out_.flush();  // a pipe sees each line as it appears
}

void ConsoleShellHost::Beep() { std::cerr << '\a' << std::flush; }

bool ConsoleShellHost::SendTypedCommand(std::string_view text) {
  return parlex2::SendTypedCommand(link_, text);
}

}  // namespace parlex2::cli
