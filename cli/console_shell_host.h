// The main window's part for a script run from the command line: the results
// pane's text goes to an output stream as it grows (carriage returns dropped,
// so each line ends the platform's way), the script list and posted commands
// stay in memory, the beep is the terminal's bell on standard error.
#pragma once

#include <ostream>

#include "app/buffered_shell_host.h"
#include "common/ui.h"
#include "link/instrument_link.h"

namespace parlex2::cli {

class ConsoleShellHost final : public BufferedShellHost {
 public:
  ConsoleShellHost(InstrumentLink& link, UserInterface& ui, std::ostream& out)
      : link_(link), ui_(ui), out_(out) {}

  void AppendText(std::string_view text) override;
  void Beep() override;
  bool SendTypedCommand(std::string_view text) override;
  UserInterface& Ui() override { return ui_; }

 private:
  InstrumentLink& link_;
  UserInterface& ui_;
  std::ostream& out_;
};

}  // namespace parlex2::cli
