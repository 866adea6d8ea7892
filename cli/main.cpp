// parlex2: the instrument link from a terminal.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <iostream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "cli/child_process.h"
#include "cli/cli.h"
#include "cli/fleet.h"
#include "common/debug_output.h"
#include "common/product.h"
#include "connect/identify.h"
#include "link/comms_log.h"

namespace parlex2::cli {

namespace {

struct RegisteredCommand {
  std::string name;
  CommandSetup setup;
};

std::vector<RegisteredCommand>& Registry() {
  static std::vector<RegisteredCommand> commands;
  return commands;
}

// The order --help lists the commands in: connecting to an instrument and the
// default connection first, then the work done on one. A command not named
// here comes after these.
constexpr std::string_view kCommandOrder[] = {"identify", "find", "set-clock", "save-default",
                                              "run",      "send", "upgrade"};

std::size_t PlaceInHelp(std::string_view name) {
  return std::find(std::begin(kCommandOrder), std::end(kCommandOrder), name) -
         std::begin(kCommandOrder);
}

DefaultConnectionLoader& Loader() {
  static DefaultConnectionLoader loader;
  return loader;
}

// The trace on standard error with -v, whether or not a --log file holds it
// too; the debugger output channel, where it goes otherwise, is dropped.
void TraceToStandardError(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}
void DropTrace(std::string_view) {}

}  // namespace

bool RegisterCommand(std::string name, CommandSetup setup) {
  Registry().push_back({std::move(name), std::move(setup)});
  return true;
}

void AddRegisteredCommands(CLI::App& app, Context& context) {
  auto& commands = Registry();
  std::stable_sort(commands.begin(), commands.end(), [](const auto& a, const auto& b) {
    return PlaceInHelp(a.name) < PlaceInHelp(b.name);
  });
  for (auto& command : commands) command.setup(app, context);
}

void SetDefaultConnectionLoader(DefaultConnectionLoader loader) { Loader() = std::move(loader); }

const CLI::Validator& FileToRead() {
  // The file is looked at through the C library's narrow call, as the
  // command then opens it, so that on Windows both read a name beyond ASCII
  // in the same code page.
  static const CLI::Validator validator(
      [](const std::string& path) -> std::string {
        struct stat info;
        const bool file = stat(path.c_str(), &info) == 0 && (info.st_mode & S_IFMT) == S_IFREG;
        return file ? "" : "no such file: " + path;
      },
      "FILE");
  return validator;
}

void PrintError(const std::string& message) {
  std::cerr << kProgramName << ": " << message << std::endl;
  SendStatus("message", message);
}

MessageAnswer TerminalUi::ShowMessage(std::string_view text, std::string_view caption, MessageIcon,
                                      MessageButtons buttons, bool) {
  std::string flat(text);
  for (char& c : flat) {
    if (c == '\n') c = ' ';
  }
  std::cerr << caption << ": " << flat << std::endl;
  SendStatus("message", std::string(caption) + ": " + flat);
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
  CommsLog::SetEcho(connection.verbose ? TraceToStandardError : nullptr);
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
  // An address that is none is a usage error here rather than a connection
  // that fails later; one written with leading zeros (10.0.0.05) is read as
  // the address it names, with one instrument as with many.
  const CLI::Validator ipv4Address(
      [](std::string& text) -> std::string {
        const auto canonical = CanonicalIpv4(text);
        if (!canonical) return "not an IPv4 address: " + text;
        text = *canonical;
        return "";
      },
      "ADDRESS");
  app.add_option("--lan", context.connection.lans,
                 "instrument's IPv4 address (TCP port 10001); repeat it for many instruments")
      ->type_name("ADDRESS")
      ->transform(ipv4Address)
      ->allow_extra_args(false);
#ifdef _WIN32
  const char* portHelp = "COM port, e.g. COM7";
#else
  const char* portHelp = "serial device, e.g. /dev/ttyUSB0";
#endif
  app.add_option("--usb", context.connection.usbs,
                 std::string("USB virtual ") + portHelp + " (19200 baud); repeatable")
      ->type_name("PORT")
      ->allow_extra_args(false);
  auto* serial = app.add_option("--serial", context.connection.serials,
                                std::string("RS-232 ") + portHelp + "; repeatable")
                     ->type_name("PORT")
                     ->allow_extra_args(false);
  app.add_option("--baud", context.connection.baud, "baud rate for --serial (default 9600)")
      ->check(CLI::IsMember({1200, 2400, 4800, 9600, 19200, 38400}))
      ->needs(serial);
  app.add_option("--lan-file", context.connection.lanFile,
                 "many instruments: one IPv4 address a line (# comments, blank lines)")
      ->type_name("FILE");
  app.add_flag("--found", context.connection.found,
               "many instruments: every instrument the LAN search finds");
  app.add_option("-j,--jobs", context.connection.jobs,
                 "many instruments: at most N at once (default: all, at most 128)")
      ->type_name("N")
      ->check(CLI::Range(1, 4096));
  app.add_option("--json", context.connection.summaryJson,
                 "many instruments: write the summary (address, identity, result, seconds) "
                 "to FILE as JSON; given before the command, unlike a command's own --json")
      ->type_name("FILE");
  app.add_option("--log", context.connection.log,
                 "write the comms log to FILE (with many instruments: a folder, one file each)")
      ->type_name("FILE");
  app.add_flag("-v,--verbose", context.connection.verbose,
               "print the time-stamped connection trace on standard error");
  // A child of the many-instrument mode: where it tells the parent how it goes.
  std::string statusChannel;
  app.add_option(kStatusChannelOption, statusChannel)->group("");
  app.footer(
      "Many instruments: with --lan, --usb or --serial repeated, --lan-file or --found, "
      "identify, send, run, upgrade and set-clock run once per instrument, each in a process of "
      "its own, their lines prefixed with the address; a summary table ends the run and the "
      "exit status is the largest of any instrument. Options before the command are the "
      "program's (--json FILE: the summary); options after it are the command's (identify "
      "--json: the identity as JSON; with many instruments a command's report file option "
      "names a folder, one file per instrument).");

  AddRegisteredCommands(app, context);
  // Opened before parsing, so that a child's usage error reaches the parent
  // as a finished run too.
  if (argc > 2 && std::string(argv[1]) == kStatusChannelOption) {
    if (!OpenStatusChannel(argv[2])) {
      PrintError(std::string(kStatusChannelOption) + ": not an open channel: " + argv[2]);
      return kExitUsage;
    }
    EndWithParent();
  }
  // Runs when everything is parsed, before the command's own callback: with
  // many instruments the command runs in the children instead.
  app.parse_complete_callback([&] {
    if (!context.connection.ManyInstruments()) {
      context.connection.UseTheOne();
      return;
    }
    for (CLI::App* command : app.get_subcommands()) {
      context.exitCode = RunFleet(*command, context);
      command->callback({});
    }
  });
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ValidationError& e) {
    PrintError(e.what());  // names the option and what is wrong with its value
    return kExitUsage;
  } catch (const CLI::ParseError& e) {
    // A word that is no command leaves no command to run: name the word.
    if (app.get_subcommands().empty() && !app.remaining().empty()) {
      std::vector<std::string> names;
      for (const CLI::App* command : app.get_subcommands({})) names.push_back(command->get_name());
      std::sort(names.begin(), names.end());
      std::string commands;
      for (const auto& name : names) commands += (commands.empty() ? "" : ", ") + name;
      PrintError("no such command: " + app.remaining().front() + " (the commands: " + commands +
                 ")");
      return kExitUsage;
    }
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
    const int status = RunParlex2(argc, argv);
    // A child of the many-instrument mode says it finished; one that
    // crashed or was killed never does.
    std::cout << std::flush;
    parlex2::cli::SendStatus("done", std::to_string(status));
    return status;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", parlex2::cli::kProgramName, e.what());
  } catch (...) {
    std::fprintf(stderr, "%s: unexpected failure\n", parlex2::cli::kProgramName);
  }
  return parlex2::cli::kExitConnection;
}
