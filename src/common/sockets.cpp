#include "common/sockets.h"

#include <mutex>

namespace parlex2 {
namespace {
std::mutex usersMutex;
int users = 0;
}  // namespace

bool SocketSendAll(SocketHandle socket, const char* data, std::size_t length) {
  while (length > 0) {
    std::size_t sent = 0;
    switch (SocketSend(socket, data, length, sent)) {
      case IoStatus::Done:
        data += sent;
        length -= sent;
        break;
      case IoStatus::WouldBlock:
        SocketWaitWritable(socket, 1000);
        break;
      case IoStatus::Closed:
        return false;
    }
  }
  return true;
}

bool SocketsStartup() {
  std::lock_guard lock(usersMutex);
  if (users == 0 && !detail::StartSocketsLayer()) return false;
  ++users;
  return true;
}

void SocketsCleanup() {
  std::lock_guard lock(usersMutex);
  if (users == 0) return;
  if (--users == 0) detail::StopSocketsLayer();
}

}  // namespace parlex2
