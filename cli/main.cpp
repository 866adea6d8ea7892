// parlex2: the instrument link from a terminal.
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cstdio>
#include <exception>
#include <iostream>
#include <vector>

#include "cli/cli.h"
#include "common/debug_output.h"
#include "common/product.h"
#include "connect/identify.h"
#include "link/comms_log.h"

namespace parlex2::cli {

bool StandardOutputIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stdout)) != 0;
#else
  return isatty(fileno(stdout)) != 0;
#endif
}

namespace {

std::vector<CommandSetup>& Registry() {
  static std::vector<CommandSetup> setups;
  return setups;
}

DefaultConnectionLoader& Loader() {
  static DefaultConnectionLoader loader;
  return loader;
}

// The connection trace: on standard error with -v, otherwise nowhere (it is
// written to the --log file all the same).
void TraceToStandardError(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}
void DropTrace(std::string_view) {}

}  // namespace

bool RegisterCommand(CommandSetup setup) {
  Registry().push_back(std::move(setup));
  return true;
}

void AddRegisteredCommands(CLI::App& app, Context& context) {
  for (auto& setup : Registry()) setup(app, context);
}

void SetDefaultConnectionLoader(DefaultConnectionLoader loader) { Loader() = std::move(loader); }

void PrintError(const std::string& message) {
  std::cerr << kProgramName << ": " << message << std::endl;
}

MessageAnswer TerminalUi::ShowMessage(std::string_view text, std::string_view caption, MessageIcon,
                                      MessageButtons buttons, bool) {
  std::string flat(text);
  for (char& c : flat) {
    if (c == '\n') c = ' ';
  }
  std::cerr << caption << ": " << flat << std::endl;
  switch (buttons) {
    case MessageButtons::YesNo:
    case MessageButtons::YesNoCancel:
      return MessageAnswer::No;
    case MessageButtons::OkCancel:
      return MessageAnswer::Cancel;
    default:
      return MessageAnswer::Ok;
  }
}

bool Context::ConfigureLink(InstrumentLink& link, std::string& error) const {
  ConnectionSettings& s = link.settings;
  if (!connection.lan.empty()) {
    s.interfaceKind = InterfaceKind::Lan;
    s.ipAddress = connection.lan;
  } else if (!connection.usb.empty()) {
    s.interfaceKind = InterfaceKind::Usb;
    s.comPort = connection.usb;
    s.baudRate = s.LineBaudRate();  // saved as the line runs, as the dialog saves it
  } else if (!connection.serial.empty()) {
    s.interfaceKind = InterfaceKind::Serial;
    s.comPort = connection.serial;
    s.baudRate = connection.baud ? connection.baud : 9600;
  } else if (!Loader() || !Loader()(s) || s.interfaceKind == InterfaceKind::None) {
    error = "no connection given (use --lan, --usb or --serial, or save a default)";
    return false;
  }
  return true;
}

void Context::ApplyLog() const {
  SetDebugOutputSink(connection.verbose ? TraceToStandardError : DropTrace);
  if (connection.log.empty()) return;
  CommsLog::SetLogPath(connection.log);
  if (!CommsLog::IsLoggingEnabled()) CommsLog::ToggleLogging();
}

int Context::PrepareLink(InstrumentLink& link) const {
  std::string error;
  if (!ConfigureLink(link, error)) {
    PrintError(error);
    return kExitUsage;
  }
  ApplyLog();
  return kExitOk;
}

int Context::OpenLink(InstrumentLink& link) const {
  if (link.Open() == 0) return kExitOk;
  PrintError(OpenFailureMessage(link.settings) + ": " + link.LastError());
  return kExitConnection;
}

}  // namespace parlex2::cli

namespace {

int RunParlex2(int argc, char** argv) {
  using namespace parlex2::cli;
  CLI::App app{std::string(kProgramName) +
               ": talk to a measuring instrument over a COM port or the LAN"};
  app.require_subcommand(1);
  app.set_version_flag("--version", parlex2::VersionLine(kProgramName),
                       "print the version (as the About box shows it) and exit");
  Context context;
  parlex2::CommsLog::SetUserInterface(&context.ui);
  parlex2::SetDebugOutputSink(DropTrace);
  auto* lan =
      app.add_option("--lan", context.connection.lan, "instrument's IPv4 address (TCP port 10001)")
          ->type_name("ADDRESS");
#ifdef _WIN32
  const char* portHelp = "COM port, e.g. COM7";
#else
  const char* portHelp = "serial device, e.g. /dev/ttyUSB0";
#endif
  auto* usb = app.add_option("--usb", context.connection.usb,
                             std::string("USB virtual ") + portHelp + " (19200 baud)")
                  ->type_name("PORT");
  auto* serial =
      app.add_option("--serial", context.connection.serial, std::string("RS-232 ") + portHelp)
          ->type_name("PORT");
  app.add_option("--baud", context.connection.baud, "baud rate for --serial (default 9600)")
      ->check(CLI::IsMember({1200, 2400, 4800, 9600, 19200, 38400}))
      ->needs(serial);
  lan->excludes(usb)->excludes(serial);
  usb->excludes(serial);
  app.add_option("--log", context.connection.log, "write the comms log to FILE")->type_name("FILE");
  app.add_flag("-v,--verbose", context.connection.verbose,
               "print the time-stamped connection trace on standard error");

  AddRegisteredCommands(app, context);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    PrintError(std::string(e.what()) + " (see --help)");
    return kExitUsage;
  }
  return context.exitCode;
}

}  // namespace

// What is left to escape is running out of memory or a broken system call
// that throws; it ends the program with a line and status 1, not an abort.
int main(int argc, char** argv) {
  try {
    return RunParlex2(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", parlex2::cli::kProgramName, e.what());
  } catch (...) {
    std::fprintf(stderr, "%s: unexpected failure\n", parlex2::cli::kProgramName);
  }
  return parlex2::cli::kExitConnection;
}
