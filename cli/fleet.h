// The many-instrument mode: a command that works on one instrument run on
// each of a list of them, every one in a child process of its own (this
// program started again with one connection), up to -j at once, with their
// lines prefixed by the instrument's address, one status line each on a
// terminal, and a summary at the end.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli.h"

namespace parlex2::cli {

// At most this many children at once unless -j says otherwise.
inline constexpr unsigned kDefaultMaxJobs = 128;

struct FleetTarget {
  InterfaceKind kind = InterfaceKind::None;
  std::string address;     // dotted IPv4 (canonical), or the port as given
  std::uint32_t baud = 0;  // --serial
  std::string origin;      // where it was named: "--lan", "rack.txt line 4", "--found"

  // What its lines are prefixed with: the address or the port.
  const std::string& Label() const { return address; }
};

// The dotted IPv4 address `text` names, written without leading zeros;
// nullopt for anything else.
std::optional<std::string> CanonicalIpv4(std::string_view text);

// The instruments the options name, in the order given: --lan, --usb,
// --serial, the --lan-file lines, then what `find` returns for --found.
// An instrument named twice runs once (a line in `notes` says so); two
// connections to one port under different settings, a junk --lan-file line
// (named by its number) or an unreadable file are refused with `error`.
bool BuildTargets(const ConnectionOptions& options,
                  const std::function<std::vector<std::string>()>& find,
                  std::vector<FleetTarget>& targets, std::vector<std::string>& notes,
                  std::string& error);

// A file name made of `label`: characters other than letters, digits, '.',
// '-' and '_' become '_'.
std::string FileStem(std::string_view label);

// Runs `command` (as parsed by `app`) on every instrument the options name;
// returns the largest exit status of any instrument (130 when interrupted).
int RunFleet(CLI::App& command, Context& context);

}  // namespace parlex2::cli
