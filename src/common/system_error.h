// The operating system's error codes as text, turned into words here and
// nowhere else: errno values on POSIX, GetLastError and WSAGetLastError codes
// on Windows (system_error_posix.cpp, system_error_win32.cpp). Safe on any
// thread: a port or socket failure on the upgrade worker's thread shares no
// buffer with one on the UI thread.
#pragma once

#include <string>

namespace parlex2 {

// The system's text for `code`, without a trailing line end; "error N" when
// the system has none.
std::string SystemErrorText(int code);

// The calling thread's last system error (errno, or GetLastError).
int LastSystemError();

// "`what`: " and the text of the calling thread's last system error.
inline std::string LastSystemErrorText(const std::string& what) {
  return what + ": " + SystemErrorText(LastSystemError());
}

}  // namespace parlex2
