// The COM port scan on Windows: a port is listed when it opens, or when it
// exists but another program holds it.
#include <windows.h>

#include <cstdio>

#include "connect/connection_form.h"

namespace parlex2 {

std::vector<std::string> FindComPorts() {
  std::vector<std::string> ports;
  for (int n = 1; n <= 254; ++n) {
    char path[32];
    std::snprintf(path, sizeof path, "\\\\.\\COM%d", n);
    HANDLE handle =
        CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    bool present = handle != INVALID_HANDLE_VALUE;
    if (present) {
      CloseHandle(handle);
    } else {
      const DWORD error = GetLastError();
      present = error == ERROR_ACCESS_DENIED || error == ERROR_GEN_FAILURE ||
                error == ERROR_SHARING_VIOLATION;
    }
    if (present) ports.push_back("COM" + std::to_string(n));
  }
  return ports;
}

}  // namespace parlex2
