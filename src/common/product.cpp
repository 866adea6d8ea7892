#include "common/product.h"

#include <string_view>

namespace parlex2 {

const std::string& BaseTitle() {
  static const std::string title = [] {
    std::string_view version(kVersionString);
    return std::string(kProductName) + " " + std::string(version.substr(0, version.find(' ')));
  }();
  return title;
}

std::string VersionLine(const char* program) {
  return std::string(program) + " " + kProductName + " " + kVersionString;
}

}  // namespace parlex2
