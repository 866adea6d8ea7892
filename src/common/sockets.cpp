#include "common/sockets.h"

#include <mutex>

namespace parlex2 {
namespace {
std::mutex usersMutex;
int users = 0;
}  // namespace

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
