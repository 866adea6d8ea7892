#include "common/clock.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

namespace parlex2 {
namespace {

class RealClock final : public Clock {
 public:
  std::uint64_t TickMs() override {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
  }
  void SleepMs(std::uint32_t milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
  LocalTime Now() override {
    using namespace std::chrono;
    auto now = system_clock::now();
    std::time_t seconds = system_clock::to_time_t(now);
    std::tm tm{};
#ifdef _WIN32
    localtime_s(&tm, &seconds);
#else
    localtime_r(&seconds, &tm);
#endif
    LocalTime t;
    t.year = tm.tm_year + 1900;
    t.month = tm.tm_mon + 1;
    t.day = tm.tm_mday;
    t.dayOfWeek = tm.tm_wday;
    t.hour = tm.tm_hour;
    t.minute = tm.tm_min;
    t.second = tm.tm_sec;
    t.millisecond =
        static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    return t;
  }
};

std::atomic<Clock*> installed{nullptr};

}  // namespace

Clock& SystemClock() {
  static RealClock clock;
  return clock;
}

Clock& GetClock() {
  Clock* clock = installed.load(std::memory_order_acquire);
  return clock ? *clock : SystemClock();
}

void SetClock(Clock* clock) { installed.store(clock, std::memory_order_release); }

std::string LineTimeStamp(const LocalTime& time) {
  char text[48];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d ", time.hour, time.minute, time.second,
                time.millisecond);
  return text;
}

bool StartsWithLineTimeStamp(std::string_view line) {
  constexpr std::string_view kPattern = "00:00:00.000 ";  // 0: a digit
  if (line.size() < kPattern.size()) return false;
  for (std::size_t i = 0; i < kPattern.size(); ++i) {
    const bool digit = line[i] >= '0' && line[i] <= '9';
    if (kPattern[i] == '0' ? !digit : line[i] != kPattern[i]) return false;
  }
  return true;
}

}  // namespace parlex2
