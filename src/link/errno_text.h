// errno values as text, for the POSIX platform files. strerror_r rather than
// strerror: a port or socket failure on the upgrade worker's thread must not
// share a buffer with one on the UI thread.
#pragma once

#include <cstring>
#include <string>

namespace parlex2 {
namespace detail {
// The XSI strerror_r fills the buffer; the GNU one returns the text.
inline const char* StrerrorText(int, const char* buffer) { return buffer; }
inline const char* StrerrorText(const char* text, const char*) { return text; }
}  // namespace detail

inline std::string ErrnoText(int code) {
  char buffer[256] = "";
  return detail::StrerrorText(strerror_r(code, buffer, sizeof buffer), buffer);
}

}  // namespace parlex2
