// The many-instrument mode's parent: starts one child per instrument, shows
// their lines and status, and ends with the summary.
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>

#include "cli/child_process.h"
#include "cli/cli.h"
#include "cli/fleet.h"
#include "link/discovery.h"

namespace parlex2::cli {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kManyCommands[] = {"identify", "send", "run", "upgrade", "set-clock"};

// Options that name a file written for the one instrument (a report): with
// many instruments they name a folder, and each child writes FOLDER/NAME.EXT
// with NAME made of its address.
struct InstrumentFileOption {
  const char* command;
  const char* option;
  const char* extension;
};
constexpr InstrumentFileOption kInstrumentFiles[] = {
    {"run", "--junit", ".xml"},
    {"run", "--json", ".json"},
};

// Options that ask at the terminal, which several children cannot share.
struct PromptingOption {
  const char* command;
  const char* option;
};
constexpr PromptingOption kPromptingOptions[] = {{"run", "--interactive"}};

constexpr std::size_t kLongestLine = 65536;  // a longer line is shown in parts
constexpr int kWaitMs = 100;

// Splits what a child wrote into lines (a carriage return before the line
// feed dropped).
class LineSplitter {
 public:
  template <typename Each>
  void Feed(std::string_view bytes, Each&& each) {
    for (char c : bytes) {
      if (c == '\n') {
        if (!pending_.empty() && pending_.back() == '\r') pending_.pop_back();
        each(pending_);
        pending_.clear();
      } else {
        pending_ += c;
        if (pending_.size() >= kLongestLine) {
          each(pending_);
          pending_.clear();
        }
      }
    }
  }
  template <typename Each>
  void Finish(Each&& each) {
    if (!pending_.empty()) each(pending_);
    pending_.clear();
  }

 private:
  std::string pending_;
};

struct Instrument {
  FleetTarget target;
  enum class State { Waiting, Running, Ended } state = State::Waiting;
  Clock::time_point started;
  double seconds = 0;
  LineSplitter lines[3];
  std::string status;  // the child's last status text
  int percent = -1;
  int printedTenth = -1;
  nlohmann::json identity;  // null until the child reports one
  std::string message;      // the last message it gave, else its last line on standard error
  bool messageGiven = false;
  bool done = false;        // it said it finished (with its exit status)
  ChildExit exit;
  std::string startError;
  bool stoppedByUs = false;
  std::map<std::string, std::string> files;  // what the child writes: "log", "--junit", ...
};

// A line of the comms trace that -v prints ("[hh:mm:ss.mmm] ..."): shown,
// but no message of the instrument's run.
bool IsTraceLine(std::string_view line) {
  return line.size() > 15 && line[0] == '[' && line[3] == ':' && line[6] == ':' && line[9] == '.' &&
         line[13] == ']' && line[14] == ' ';
}

std::string SignalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGSEGV:
      return "SIGSEGV";
    case SIGABRT:
      return "SIGABRT";
#ifndef _WIN32
    case SIGKILL:
      return "SIGKILL";
    case SIGHUP:
      return "SIGHUP";
    case SIGPIPE:
      return "SIGPIPE";
    case SIGBUS:
      return "SIGBUS";
#endif
    default:
      return "signal " + std::to_string(signal);
  }
}

// The status an instrument adds to the program's: the child's exit status,
// 128 + the signal that killed it, 255 for a Windows exception code, and at
// least 1 when it never said it had finished.
int InstrumentStatus(const Instrument& i) {
  if (!i.startError.empty()) return kExitConnection;
  if (i.state != Instrument::State::Ended) return 0;
  if (i.exit.signal) return 128 + i.exit.signal;
  const int code = (i.exit.code < 0 || i.exit.code > 255) ? 255 : i.exit.code;
  return i.done ? code : std::max(code, kExitConnection);
}

std::string StatusWord(const std::string& command, int status) {
  switch (status) {
    case 1:
      return "failed";
    case 2:
      return "usage error";
    case 3:
      return command == "run" ? "test failed" : command == "upgrade" ? "refused" : "failed";
    case 4:
      return command == "run" ? "send failed" : "failed";
    case 5:
      return command == "run" ? "abandoned" : "failed";
    default:
      return "failed";
  }
}

std::string ResultText(const std::string& command, const Instrument& i) {
  if (!i.startError.empty()) return "not started: " + i.startError;
  if (i.state != Instrument::State::Ended) return "not started";
  if (i.stoppedByUs) return "stopped (interrupted)";
  if (i.exit.signal) return "killed by " + SignalName(i.exit.signal);
  if (i.exit.code < 0 || i.exit.code > 255) {
    char code[32];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(i.exit.code));
    return std::string("crashed (exception ") + code + ")";
  }
  if (!i.done) return "ended without a result (exit " + std::to_string(i.exit.code) + ")";
  if (i.exit.code == 0) return "ok";
  return StatusWord(command, i.exit.code) + " (exit " + std::to_string(i.exit.code) + ")";
}

std::string IdentityText(const Instrument& i) {
  const auto& replies = i.identity.is_object() ? i.identity["replies"] : nlohmann::json();
  if (replies.is_object() && replies["idn"].is_string()) return replies["idn"].get<std::string>();
  return "-";
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", seconds);
  return text;
}

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &now);
#else
  gmtime_r(&now, &utc);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

// Prefixed lines, and on a terminal a block of status lines under them, one
// per running instrument, redrawn in place.
class FleetDisplay {
 public:
  FleetDisplay(std::size_t labelWidth, bool live) : labelWidth_(labelWidth), live_(live) {}

  void Line(const std::string& label, bool error, const std::string& text) {
    Erase();
    std::ostream& out = error ? std::cerr : std::cout;
    if (error) std::cout << std::flush;
    out << label << ':' << std::string(labelWidth_ + 1 - std::min(labelWidth_, label.size()), ' ')
        << text << '\n';
    if (error) out << std::flush;
  }

  // Replaces the status block (terminal only).
  void Draw(const std::vector<std::string>& lines) {
    if (!live_) return;
    Erase();
    int columns = 80, rows = 24;
    TerminalSize(columns, rows);
    const std::size_t room = static_cast<std::size_t>(std::max(1, std::min(rows - 2, 30)));
    std::size_t shown = 0;
    for (const auto& line : lines) {
      if (shown + 1 == room && lines.size() > room) {
        std::cout << "  ... and " << (lines.size() - shown) << " more running\n";
        ++shown;
        break;
      }
      std::cout << line.substr(0, static_cast<std::size_t>(columns - 1)) << "\x1b[K\n";
      ++shown;
    }
    drawn_ = shown;
    std::cout << std::flush;
  }

  void Erase() {
    if (!live_ || drawn_ == 0) return;
    std::cout << "\r\x1b[" << drawn_ << "A\x1b[J";
    drawn_ = 0;
  }

  std::size_t labelWidth() const { return labelWidth_; }

 private:
  std::size_t labelWidth_;
  bool live_;
  std::size_t drawn_ = 0;
};

const CLI::Option* FindOption(const CLI::App& command, const char* name) {
  for (const CLI::Option* option : command.get_options()) {
    if (option->get_name() == name) return option;
  }
  return nullptr;
}

const InstrumentFileOption* InstrumentFileOf(const CLI::App& command, const CLI::Option& option) {
  for (const auto& entry : kInstrumentFiles) {
    if (command.get_name() == entry.command && option.get_name() == entry.option) return &entry;
  }
  return nullptr;
}

// A folder for the children's files: made when missing, refused when a file.
bool MakeFolder(const std::string& what, const std::string& folder, std::string& error) {
  std::error_code code;
  if (std::filesystem::exists(folder, code) && !std::filesystem::is_directory(folder, code)) {
    error = what + " " + folder +
            " is a file: with many instruments it names a folder, one file per instrument";
    return false;
  }
  std::filesystem::create_directories(folder, code);
  if (code) {
    error = what + ": cannot make the folder " + folder + ": " + code.message();
    return false;
  }
  return true;
}

std::string InFolder(const std::string& folder, const std::string& name) {
  return (std::filesystem::path(folder) / name).string();
}

class FleetRun {
 public:
  FleetRun(CLI::App& command, Context& context) : command_(command), context_(context) {}

  int Run() {
    const ConnectionOptions& options = context_.connection;
    const std::string name = command_.get_name();
    if (std::find(std::begin(kManyCommands), std::end(kManyCommands), name) ==
        std::end(kManyCommands)) {
      return Usage(name +
                   " works on one instrument at most: --lan-file, --found, --json and repeated "
                   "connection options are for identify, send, run, upgrade and set-clock");
    }
    std::vector<std::string> notes;
    std::string error;
    std::vector<FleetTarget> targets;
    auto find = [] {
      std::vector<FoundInstrument> found;
      LanFindInstruments(found, kFoundListCapacity);
      std::vector<std::string> addresses;
      addresses.reserve(found.size());
      for (const auto& entry : found) addresses.push_back(entry.address);
      return addresses;
    };
    if (!BuildTargets(options, find, targets, notes, error)) return Usage(error);
    for (const auto& note : notes) PrintError(note);
    if (targets.empty()) {
      if (options.found) {
        std::cout << "No Instruments found on this subnet" << std::endl;
        return kExitConnection;
      }
      return Usage("no instruments to work on" +
                   (options.lanFile.empty() ? std::string() : ": " + options.lanFile +
                                                                  " names no address"));
    }
    for (const auto& prompting : kPromptingOptions) {
      const CLI::Option* option = FindOption(command_, prompting.option);
      if (name == prompting.command && option && option->count() > 0) {
        return Usage(std::string(prompting.option) +
                     " asks at the terminal, which several instruments cannot share");
      }
    }
    if (name == "upgrade") {
      const CLI::Option* yes = FindOption(command_, "--yes");
      const CLI::Option* list = FindOption(command_, "--list");
      if ((!yes || yes->count() == 0) && (!list || list->count() == 0)) {
        return Usage("upgrading " + std::to_string(targets.size()) +
                     (targets.size() == 1 ? " instrument" : " instruments") +
                     " from a list needs --yes: questions cannot be asked of several "
                     "instruments at once (--list shows each one's Proposed Operation)");
      }
    }
    if (!options.log.empty() && !MakeFolder("--log", options.log, error)) return Usage(error);
    for (const CLI::Option* option : command_.get_options()) {
      if (option->count() > 0 && InstrumentFileOf(command_, *option) &&
          !MakeFolder(option->get_name(), option->results().front(), error)) {
        return Usage(error);
      }
    }
    program_ = OwnExecutablePath(error);
    if (program_.empty()) {
      PrintError(error);
      return kExitConnection;
    }

    std::set<std::string> stems;
    for (auto& target : targets) {
      Instrument instrument;
      instrument.target = target;
      // Two labels can make one file name (/dev/a_b, /dev/a/b): number the later one.
      std::string stem = FileStem(target.Label());
      for (int n = 2; !stems.insert(stem).second; ++n) {
        stem = FileStem(target.Label()) + "-" + std::to_string(n);
      }
      stems_.push_back(stem);
      instruments_.push_back(std::move(instrument));
    }
    return Loop();
  }

 private:
  int Usage(const std::string& message) {
    PrintError(message);
    return kExitUsage;
  }

  std::vector<std::string> ChildArguments(std::size_t index) {
    Instrument& instrument = instruments_[index];
    const FleetTarget& target = instrument.target;
    const std::string& stem = stems_[index];
    std::vector<std::string> args;
    switch (target.kind) {
      case InterfaceKind::Usb:
        args = {"--usb", target.address};
        break;
      case InterfaceKind::Serial:
        args = {"--serial", target.address, "--baud", std::to_string(target.baud)};
        break;
      default:
        args = {"--lan", target.address};
        break;
    }
    if (context_.connection.verbose) args.push_back("-v");
    if (!context_.connection.log.empty()) {
      instrument.files["log"] = InFolder(context_.connection.log, stem + ".log");
      args.insert(args.end(), {"--log", instrument.files["log"]});
    }
    args.push_back(command_.get_name());
    std::vector<std::string> positionals;
    for (const CLI::Option* option : command_.get_options()) {
      if (option == command_.get_help_ptr() || option->count() == 0) continue;
      if (!option->nonpositional()) {
        for (const auto& value : option->results()) positionals.push_back(value);
        continue;
      }
      const std::string name = option->get_name();
      if (const auto* file = InstrumentFileOf(command_, *option)) {
        const std::string path = InFolder(option->results().front(), stem + file->extension);
        instrument.files[name.substr(name.find_first_not_of('-'))] = path;
        args.insert(args.end(), {name, path});
      } else if (option->get_expected_max() == 0) {  // a flag
        for (std::size_t n = 0; n < option->count(); ++n) args.push_back(name);
      } else {
        for (const auto& value : option->results()) args.insert(args.end(), {name, value});
      }
    }
    if (!positionals.empty()) {
      args.push_back("--");
      args.insert(args.end(), positionals.begin(), positionals.end());
    }
    return args;
  }

  void StartNext(ChildPool& pool) {
    const std::size_t index = next_++;
    Instrument& instrument = instruments_[index];
    std::string error;
    instrument.started = Clock::now();
    if (pool.Start(index, program_, ChildArguments(index), error)) {
      instrument.state = Instrument::State::Running;
    } else {
      instrument.state = Instrument::State::Ended;
      instrument.startError = error;
      display_->Line(instrument.target.Label(), true, std::string(kProgramName) + ": " + error);
    }
  }

  void OnLine(std::size_t index, ChildStream stream, const std::string& line) {
    Instrument& instrument = instruments_[index];
    const std::string& label = instrument.target.Label();
    if (stream == ChildStream::Output) {
      display_->Line(label, false, line);
      return;
    }
    if (stream == ChildStream::Error) {
      if (!line.empty() && !instrument.messageGiven && !IsTraceLine(line)) {
        instrument.message = line;
      }
      display_->Line(label, true, line);
      return;
    }
    const std::size_t space = line.find(' ');
    const std::string key = line.substr(0, space);
    const std::string value = space == std::string::npos ? "" : line.substr(space + 1);
    if (key == "message") {
      instrument.message = value;
      instrument.messageGiven = true;
    } else if (key == "done") {
      instrument.done = true;
    } else if (key == "identity") {
      instrument.identity = nlohmann::json::parse(value, nullptr, false);
      if (instrument.identity.is_discarded()) instrument.identity = nullptr;
    } else if (key == "status") {
      instrument.status = value;  // its line came on standard output as well
    } else if (key == "progress") {
      instrument.percent =
          static_cast<int>(std::clamp(std::strtol(value.c_str(), nullptr, 10), 0L, 100L));
      if (!live_ && instrument.percent / 10 != instrument.printedTenth) {
        instrument.printedTenth = instrument.percent / 10;
        display_->Line(label, false, std::to_string(instrument.percent) + "%");
      }
    }
  }

  std::vector<std::string> StatusLines() const {
    std::vector<std::string> lines;
    const auto now = Clock::now();
    for (const auto& i : instruments_) {
      if (i.state != Instrument::State::Running) continue;
      const double seconds = std::chrono::duration<double>(now - i.started).count();
      std::string line = i.target.Label() + ":" +
                         std::string(display_->labelWidth() + 1 - i.target.Label().size(), ' ');
      char elapsed[32];
      std::snprintf(elapsed, sizeof elapsed, "running %5.1f s", seconds);
      line += elapsed;
      if (i.percent >= 0) line += "  " + std::to_string(i.percent) + "%";
      if (!i.status.empty()) line += "  " + i.status;
      lines.push_back(line);
    }
    return lines;
  }

  int Loop() {
    std::size_t width = 0;
    for (const auto& i : instruments_) width = std::max(width, i.target.Label().size());
    live_ = LiveTerminal();
    display_ = std::make_unique<FleetDisplay>(width, live_);
    FleetDisplay& display = *display_;
    const std::size_t jobs =
        context_.connection.jobs ? context_.connection.jobs
                                 : std::min<std::size_t>(instruments_.size(), kDefaultMaxJobs);
    const std::string started = UtcNow();
    const auto startTime = Clock::now();
    CatchInterrupts();

    ChildPool pool;
    ChildEvents events;
    events.output = [&](std::size_t id, ChildStream stream, std::string_view bytes) {
      instruments_[id].lines[static_cast<int>(stream)].Feed(
          bytes, [&](const std::string& line) { OnLine(id, stream, line); });
    };
    events.exited = [&](std::size_t id, const ChildExit& exit) {
      Instrument& instrument = instruments_[id];
      for (int s = 0; s < 3; ++s) {
        instrument.lines[s].Finish(
            [&](const std::string& line) { OnLine(id, static_cast<ChildStream>(s), line); });
      }
      instrument.state = Instrument::State::Ended;
      instrument.exit = exit;
      instrument.stoppedByUs = stopping_ && !instrument.done;
      instrument.seconds = std::chrono::duration<double>(Clock::now() - instrument.started).count();
    };
    for (;;) {
      if (InterruptRequested() && !stopping_) {
        stopping_ = true;
        pool.StopAll();
      }
      while (!stopping_ && next_ < instruments_.size() && pool.Running() < jobs) StartNext(pool);
      if (pool.Running() == 0 && (stopping_ || next_ == instruments_.size())) break;
      pool.Wait(kWaitMs, events);
      display.Draw(StatusLines());
    }
    display.Erase();
    const double seconds = std::chrono::duration<double>(Clock::now() - startTime).count();

    int status = 0;
    for (const auto& i : instruments_) status = std::max(status, InstrumentStatus(i));
    if (stopping_) status = 130;
    PrintSummary(seconds);
    if (!context_.connection.summaryJson.empty() &&
        !WriteSummary(context_.connection.summaryJson, started, seconds, status)) {
      status = std::max(status, kExitConnection);
    }
    return status;
  }

  void PrintSummary(double seconds) {
    const std::string name = command_.get_name();
    std::vector<std::array<std::string, 4>> rows{{"ADDRESS", "IDENTITY", "RESULT", "SECONDS"}};
    std::size_t ok = 0;
    for (const auto& i : instruments_) {
      const std::string result = ResultText(name, i);
      if (result == "ok") ++ok;
      rows.push_back({i.target.Label(), IdentityText(i), result,
                      i.state == Instrument::State::Ended && i.startError.empty()
                          ? Seconds(i.seconds)
                          : "-"});
    }
    std::size_t widths[4] = {};
    for (const auto& row : rows) {
      for (int c = 0; c < 4; ++c) widths[c] = std::max(widths[c], row[c].size());
    }
    std::cout << '\n';
    for (const auto& row : rows) {
      std::string line;
      for (int c = 0; c < 3; ++c) line += row[c] + std::string(widths[c] + 2 - row[c].size(), ' ');
      std::cout << line << std::string(widths[3] - row[3].size(), ' ') << row[3] << '\n';
    }
    std::cout << instruments_.size() << (instruments_.size() == 1 ? " instrument" : " instruments")
              << ": " << ok << " ok, " << (instruments_.size() - ok) << " not ok, "
              << Seconds(seconds) << " s" << (stopping_ ? " (interrupted)" : "") << std::endl;
  }

  bool WriteSummary(const std::string& path, const std::string& started, double seconds,
                    int status) {
    const std::string name = command_.get_name();
    nlohmann::json list = nlohmann::json::array();
    for (const auto& i : instruments_) {
      const bool ended = i.state == Instrument::State::Ended && i.startError.empty();
      const char* interfaceName = InterfaceKindName(i.target.kind);
      nlohmann::json entry = {
          {"address", i.target.Label()},
          {"interface", interfaceName ? nlohmann::json(interfaceName) : nlohmann::json(nullptr)},
          {"identity", i.identity},
          {"result", ResultText(name, i)},
          {"ok", ResultText(name, i) == "ok"},
          {"exitStatus", ended && !i.exit.signal ? nlohmann::json(i.exit.code) : nullptr},
          {"signal", i.exit.signal ? nlohmann::json(SignalName(i.exit.signal)) : nullptr},
          {"seconds", ended ? nlohmann::json(std::round(i.seconds * 1000) / 1000) : nullptr},
          {"message", i.message.empty() ? nlohmann::json(nullptr) : nlohmann::json(i.message)},
          {"peakMemoryKiB", ended && i.exit.peakKiB ? nlohmann::json(i.exit.peakKiB) : nullptr},
          {"files", i.files},
      };
      list.push_back(std::move(entry));
    }
    nlohmann::json summary = {
        {"command", name},
        {"started", started},
        {"finished", UtcNow()},
        {"seconds", std::round(seconds * 1000) / 1000},
        {"interrupted", stopping_},
        {"exitStatus", status},
        {"instruments", list},
    };
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << summary.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    out.close();
    if (!out) {
      PrintError("--json: cannot write " + path);
      return false;
    }
    return true;
  }

  CLI::App& command_;
  Context& context_;
  std::string program_;
  std::vector<Instrument> instruments_;
  std::vector<std::string> stems_;
  std::size_t next_ = 0;
  bool stopping_ = false;
  bool live_ = false;
  std::unique_ptr<FleetDisplay> display_;
};

}  // namespace

int RunFleet(CLI::App& command, Context& context) { return FleetRun(command, context).Run(); }

}  // namespace parlex2::cli
