#include "stream_pacer.h"

#include <algorithm>

namespace parlex2::sim {
namespace {

// The instrument streams only at a rate of 1 or more; 0 is never divided by.
std::uint64_t LinesASecond(int rate) { return static_cast<std::uint64_t>(std::max(rate, 1)); }

}  // namespace

std::uint64_t StreamPacer::LinesDue(std::uint64_t nowMs, int rate, std::size_t backlog) {
  if (!running_ || LinesASecond(rate) != rate_) {
    running_ = true;
    rate_ = LinesASecond(rate);
    startMs_ = nowMs;
    sent_ = 0;
  }
  if (backlog > backlogLimit_) {
    startMs_ = nowMs - sent_ * 1000 / rate_;
    return 0;
  }
  const std::uint64_t due = (nowMs - startMs_) * rate_ / 1000 + 1;
  const std::uint64_t lines = due > sent_ ? std::min(due - sent_, kBatchLimit) : 0;
  sent_ += lines;
  return lines;
}

long long StreamPacer::WaitUs(std::uint64_t nowMs, int rate) const {
  const std::uint64_t perSecond = LinesASecond(rate);
  if (!running_ || perSecond >= 1000) return 1000;
  const std::uint64_t next = startMs_ + sent_ * 1000 / perSecond;
  return next > nowMs ? static_cast<long long>(next - nowMs) * 1000 : 0;
}

}  // namespace parlex2::sim
