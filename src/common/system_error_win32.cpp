#include <windows.h>

#include "common/system_error.h"

namespace parlex2 {

std::string SystemErrorText(int code) {
  char text[256] = {};
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 static_cast<DWORD>(code), 0, text, sizeof text - 1, nullptr);
  std::string result = text[0] ? text : "error " + std::to_string(code);
  while (!result.empty() &&
         (result.back() == '\n' || result.back() == '\r' || result.back() == ' ')) {
    result.pop_back();
  }
  return result;
}

int LastSystemError() { return static_cast<int>(GetLastError()); }

}  // namespace parlex2
