// A clock for tests: time moves only when the test (or a sleep) moves it.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/clock.h"

namespace parlex2::testing {

class FakeClock final : public Clock {
 public:
  FakeClock() { SetClock(this); }
  ~FakeClock() override { SetClock(nullptr); }

  std::uint64_t TickMs() override { return ticks_; }
  void SleepMs(std::uint32_t milliseconds) override {
    ticks_ += milliseconds;
    slept_ += milliseconds;
  }
  LocalTime Now() override { return now_; }

  void Advance(std::uint64_t milliseconds) { ticks_ += milliseconds; }
  void SetNow(const LocalTime& now) { now_ = now; }
  std::uint64_t Slept() const { return slept_; }

 private:
  std::atomic<std::uint64_t> ticks_{1000000};
  std::atomic<std::uint64_t> slept_{0};
  LocalTime now_{};
};

}  // namespace parlex2::testing
