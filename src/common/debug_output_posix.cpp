#include <cstdio>

#include "common/debug_output.h"

namespace parlex2 {

void SystemDebugOutput(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

}  // namespace parlex2
