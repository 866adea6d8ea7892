#include <windows.h>

#include <string>

#include "common/debug_output.h"

namespace parlex2 {

void SystemDebugOutput(std::string_view text) {
  std::string copy(text);
  OutputDebugStringA(copy.c_str());
}

}  // namespace parlex2
