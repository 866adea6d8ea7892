#include <cerrno>
#include <cstring>

#include "common/system_error.h"

namespace parlex2 {
namespace {
// The XSI strerror_r fills the buffer; the GNU one returns the text.
[[maybe_unused]] const char* StrerrorText(int, const char* buffer) { return buffer; }
[[maybe_unused]] const char* StrerrorText(const char* text, const char*) { return text; }
}  // namespace

std::string SystemErrorText(int code) {
  char buffer[256] = "";
  const char* text = StrerrorText(strerror_r(code, buffer, sizeof buffer), buffer);
  return text && *text ? text : "error " + std::to_string(code);
}

int LastSystemError() { return errno; }

}  // namespace parlex2
