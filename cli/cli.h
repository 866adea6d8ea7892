// The parlex2 command line: shared connection options and the registry that
// each subcommand file adds itself to.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "common/ui.h"
#include "link/instrument_link.h"

namespace parlex2::cli {

// The terminal on standard output (terminal_posix.cpp, terminal_win32.cpp).
// Whether standard output is a terminal (colours, a progress bar) rather than
// a pipe or a file.
bool StandardOutputIsTerminal();
// The terminal's visible columns and rows; false when it cannot tell, or it
// has no more than 20 columns or 3 rows (too few for the status lines).
bool TerminalSize(int& columns, int& rows);
// Whether the terminal takes the cursor movements of the status lines.
bool LiveTerminal();

// The name the program calls itself in --version, --help and its messages:
// "parlex2", and "parlex2-cli" on Windows, the names of its files.
inline constexpr char kProgramName[] = PARLEX2_CLI_NAME;

// Exit statuses shared by every subcommand.
inline constexpr int kExitOk = 0;
inline constexpr int kExitConnection = 1;
inline constexpr int kExitUsage = 2;

struct ConnectionOptions {
  std::string lan;     // --lan ADDRESS
  std::string usb;     // --usb PORT
  std::string serial;  // --serial PORT
  std::uint32_t baud = 0;
  std::string log;       // --log FILE: comms log on, to this file (a folder for many)
  bool verbose = false;  // -v: the connection trace on standard error

  // Many instruments: every --lan, --usb and --serial given, an address file,
  // the LAN search, at most `jobs` at once (0: all, capped), a JSON summary.
  std::vector<std::string> lans, usbs, serials;
  std::string lanFile;
  bool found = false;
  unsigned jobs = 0;
  std::string summaryJson;

  bool Given() const { return !lan.empty() || !usb.empty() || !serial.empty(); }
  // True when the instruments come as a list or a summary is asked for: the
  // command then runs once per instrument, each in a child process.
  bool ManyInstruments() const {
    return lans.size() + usbs.size() + serials.size() > 1 || !lanFile.empty() || found ||
           !summaryJson.empty();
  }
  // One instrument: its option as the single-instrument commands read it.
  void UseTheOne() {
    if (!lans.empty()) lan = lans.front();
    if (!usbs.empty()) usb = usbs.front();
    if (!serials.empty()) serial = serials.front();
  }
};

// Messages go to standard error as "Caption: text"; questions take the
// default answer (the command line never blocks on a question).
class TerminalUi final : public UserInterface {
 public:
  MessageAnswer ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon,
                            MessageButtons buttons, bool owned) override;
};

struct Context {
  ConnectionOptions connection;
  TerminalUi ui;
  int exitCode = kExitOk;

  // Fills `link.settings` from the options. Without options the saved default
  // connection is used when a loader was registered (see SetDefaultConnectionLoader).
  // False, with a one-line reason in `error`, when there is nothing to connect to.
  bool ConfigureLink(InstrumentLink& link, std::string& error) const;
  // Prints the trace (milestones and every line sent and received) on
  // standard error with -v, and switches the comms log to --log FILE when it
  // was given; either, both or neither.
  void ApplyLog() const;

  // ConfigureLink and ApplyLog: kExitOk, or kExitUsage after printing why.
  int PrepareLink(InstrumentLink& link) const;
  // Opens the prepared link: kExitOk, or kExitConnection after printing the
  // program's message and the system's reason.
  int OpenLink(InstrumentLink& link) const;
};

// Reads the saved default connection into `settings`; true when one was saved.
using DefaultConnectionLoader = std::function<bool(ConnectionSettings& settings)>;
void SetDefaultConnectionLoader(DefaultConnectionLoader loader);

// A subcommand file calls this at static-initialisation time, with the name
// the subcommand is added under:
//   static const bool added = parlex2::cli::RegisterCommand("name", [](CLI::App& app,
//                                                                        Context& ctx) {
//     auto* sub = app.add_subcommand("name", "what it does");
//     ...
//     sub->callback([&ctx] { ctx.exitCode = ...; });
//   });
using CommandSetup = std::function<void(CLI::App& app, Context& context)>;
bool RegisterCommand(std::string name, CommandSetup setup);

// Lets every registered subcommand add itself to `app`, in the order --help
// lists them (main.cpp holds it), whatever order their files were linked in.
void AddRegisteredCommands(CLI::App& app, Context& context);

// Prints a one-line error to standard error.
void PrintError(const std::string& message);

// A file a command reads (a script, a firmware file): one that does not exist
// is refused while the command line is read, a usage error like any other
// malformed argument, in every command and also with many instruments.
const CLI::Validator& FileToRead();

}  // namespace parlex2::cli
