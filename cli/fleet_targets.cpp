// The instrument list of the many-instrument mode: repeated connection
// options, an address file and the LAN search, with duplicates run once.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/fleet.h"

namespace parlex2::cli {
namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  return text;
}

// Two names of one port compare equal: symbolic links followed on POSIX,
// case and the \\.\ device prefix ignored on Windows.
std::string PortIdentity(const std::string& port) {
#ifdef _WIN32
  std::string name = port;
  if (name.rfind("\\\\.\\", 0) == 0) name = name.substr(4);
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
#else
  std::error_code error;
  const auto resolved = std::filesystem::weakly_canonical(port, error);
  return error ? port : resolved.string();
#endif
}

const char* OptionName(InterfaceKind kind) {
  switch (kind) {
    case InterfaceKind::Usb:
      return "--usb";
    case InterfaceKind::Serial:
      return "--serial";
    default:
      return "--lan";
  }
}

}  // namespace

std::optional<std::string> CanonicalIpv4(std::string_view text) {
  std::string canonical;
  int parts = 0;
  while (true) {
    const std::size_t dot = text.find('.');
    const std::string_view part = text.substr(0, dot);
    if (part.empty() || part.size() > 3) return std::nullopt;
    int value = 0;
    for (char c : part) {
      if (c < '0' || c > '9') return std::nullopt;
      value = value * 10 + (c - '0');
    }
    if (value > 255) return std::nullopt;
    if (parts++) canonical += '.';
    canonical += std::to_string(value);
    if (dot == std::string_view::npos) break;
    text.remove_prefix(dot + 1);
  }
  if (parts != 4) return std::nullopt;
  return canonical;
}

std::string FileStem(std::string_view label) {
  std::string stem;
  for (char c : label) {
    const bool plain = std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' ||
                       c == '_';
    stem += plain ? c : '_';
  }
  const std::size_t first = stem.find_first_not_of("_.");
  return first == std::string::npos ? "instrument" : stem.substr(first);
}

bool BuildTargets(const ConnectionOptions& options,
                  const std::function<std::vector<std::string>()>& find,
                  std::vector<FleetTarget>& targets, std::vector<std::string>& notes,
                  std::string& error) {
  std::vector<FleetTarget> named;
  for (const auto& lan : options.lans) {
    const auto address = CanonicalIpv4(Trim(lan));
    if (!address) {
      error = "--lan: not an IPv4 address: " + lan;
      return false;
    }
    named.push_back({InterfaceKind::Lan, *address, 0, "--lan"});
  }
  for (const auto& port : options.usbs) named.push_back({InterfaceKind::Usb, port, 0, "--usb"});
  const std::uint32_t baud = options.baud ? options.baud : 9600;
  for (const auto& port : options.serials) {
    named.push_back({InterfaceKind::Serial, port, baud, "--serial"});
  }
  if (!options.lanFile.empty()) {
    std::ifstream in(options.lanFile, std::ios::binary);
    if (!in) {
      error = "--lan-file: cannot read " + options.lanFile;
      return false;
    }
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
      std::string_view text = line;
      text = Trim(text.substr(0, text.find('#')));
      if (text.empty()) continue;
      const auto address = CanonicalIpv4(text);
      if (!address) {
        error = options.lanFile + " line " + std::to_string(number) +
                ": not an IPv4 address: " + std::string(text);
        return false;
      }
      named.push_back(
          {InterfaceKind::Lan, *address, 0, options.lanFile + " line " + std::to_string(number)});
    }
  }
  if (options.found && find) {
    for (const auto& address : find()) {
      // The two enquiries list an instrument that answers both twice: that
      // is how the search works, not a mistake in the list.
      const bool listed = std::any_of(named.begin(), named.end(), [&](const FleetTarget& t) {
        return t.kind == InterfaceKind::Lan && t.address == address && t.origin == "--found";
      });
      if (!listed) named.push_back({InterfaceKind::Lan, address, 0, "--found"});
    }
  }

  targets.clear();
  for (auto& target : named) {
    const bool lan = target.kind == InterfaceKind::Lan;
    const std::string identity = lan ? target.address : PortIdentity(target.address);
    auto same = std::find_if(targets.begin(), targets.end(), [&](const FleetTarget& t) {
      const bool otherLan = t.kind == InterfaceKind::Lan;
      return lan == otherLan && (otherLan ? t.address : PortIdentity(t.address)) == identity;
    });
    if (same == targets.end()) {
      targets.push_back(std::move(target));
      continue;
    }
    if (lan || (same->kind == target.kind && same->baud == target.baud)) {
      const std::string where =
          same->origin == target.origin ? "" : " (" + same->origin + ", " + target.origin + ")";
      notes.push_back(target.address + " is named twice" + where + "; it runs once");
      continue;
    }
    error = std::string(OptionName(same->kind)) + " " + same->address + " and " +
            OptionName(target.kind) + " " + target.address +
            " are the same port: one port cannot carry two connections";
    return false;
  }
  return true;
}

}  // namespace parlex2::cli
