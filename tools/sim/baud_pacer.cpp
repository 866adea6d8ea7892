#include "baud_pacer.h"

#include <algorithm>

namespace parlex2::sim {

std::uint64_t BaudPacer::ReplyDue(std::uint64_t nowUs, std::size_t commandBytes,
                                  std::uint64_t delayUs, std::size_t replyBytes) {
  receiveBusyUntil_ = std::max(nowUs, receiveBusyUntil_) + WireUs(commandBytes);
  const std::uint64_t start = std::max(receiveBusyUntil_ + delayUs, sendBusyUntil_);
  sendBusyUntil_ = start + WireUs(replyBytes);
  return sendBusyUntil_;
}

}  // namespace parlex2::sim
