// The serial devices a POSIX system offers as COM ports: /dev/ttyS*,
// /dev/ttyUSB* and /dev/ttyACM* that exist, each family in number order.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <tuple>

#include "connect/connection_form.h"

namespace parlex2 {

std::vector<std::string> FindComPorts() {
  static constexpr const char* kFamilies[] = {"ttyS", "ttyUSB", "ttyACM"};
  struct Found {
    int family;
    unsigned long number;
    std::string name;
  };
  std::vector<Found> found;
  std::error_code error;
  for (std::filesystem::directory_iterator it("/dev", error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    for (int family = 0; family < 3; ++family) {
      const std::string prefix = kFamilies[family];
      if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
      const std::string digits = name.substr(prefix.size());
      if (digits.size() > 6 || !std::all_of(digits.begin(), digits.end(), [](unsigned char c) {
            return std::isdigit(c) != 0;
          })) {
        continue;
      }
      found.push_back({family, std::strtoul(digits.c_str(), nullptr, 10), "/dev/" + name});
    }
  }
  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
    return std::tie(a.family, a.number, a.name) < std::tie(b.family, b.number, b.name);
  });
  std::vector<std::string> ports;
  ports.reserve(found.size());
  for (auto& port : found) ports.push_back(std::move(port.name));
  return ports;
}

}  // namespace parlex2
