// The pace of the measurement stream ("stream on", --stream RATE, "stream
// rate,N"): how many lines are due now, counted from when the stream started
// or last changed its rate, so the rate holds over time however the event
// loop's wake-ups fall.
#pragma once

#include <cstddef>
#include <cstdint>

namespace parlex2::sim {

class StreamPacer {
 public:
  // No more than `backlogLimit` bytes are left waiting for a slow client.
  explicit StreamPacer(std::size_t backlogLimit) : backlogLimit_(backlogLimit) {}

  // The lines to send at `nowMs` at `rate` lines a second, given the bytes
  // the client has not taken yet; counted as sent. The first call, and the
  // first at a new rate, starts the count afresh with one line.
  // Lines go in whole batches (above 1000 a second there is more than one a
  // millisecond), at most kBatchLimit at a time. While the backlog is over
  // its limit none is due and the pace starts again from where it stands: a
  // slow reader sets the pace, with no burst to catch up with afterwards.
  std::uint64_t LinesDue(std::uint64_t nowMs, int rate, std::size_t backlog);

  // How long the event loop may wait at `nowMs` before the next line at
  // `rate` is due, in microseconds: at most a millisecond; until the next
  // line at rates below 1000 a second.
  long long WaitUs(std::uint64_t nowMs, int rate) const;

  // The stream was turned off or lost its client: the next LinesDue starts
  // it afresh.
  void Stop() { running_ = false; }

  static constexpr std::uint64_t kBatchLimit = 5000;

 private:
  std::size_t backlogLimit_;
  bool running_ = false;
  std::uint64_t rate_ = 0;  // the rate the count is at
  std::uint64_t startMs_ = 0;
  std::uint64_t sent_ = 0;  // lines since startMs_
};

}  // namespace parlex2::sim
