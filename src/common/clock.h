// The program's view of time: a millisecond tick count for pacing and
// time-outs, a sleep, and the local wall-clock time for log stamps, the
// settings file and the instrument's clock. Tests install a fake.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace parlex2 {

struct LocalTime {
  int year = 1970;
  int month = 1;      // 1..12
  int day = 1;        // 1..31
  int dayOfWeek = 4;  // 0 = Sunday .. 6 = Saturday
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary start; only differences mean anything.
  virtual std::uint64_t TickMs() = 0;
  virtual void SleepMs(std::uint32_t milliseconds) = 0;
  virtual LocalTime Now() = 0;
};

// The clock in force: the system clock unless a test installed another.
Clock& GetClock();

// Installs `clock` (not owned) for the whole process, or the system clock again
// when null. Only tests call this, before the code under test runs.
void SetClock(Clock* clock);

// The real clock of the operating system.
Clock& SystemClock();

// The stamp in front of a received or echoed line in the results pane when
// time stamps are on: the local time as "HH:MM:SS.mmm " (a blank after it).
std::string LineTimeStamp(const LocalTime& time);
inline constexpr std::size_t kLineTimeStampLength = 13;

// True when `line` begins with such a stamp.
bool StartsWithLineTimeStamp(std::string_view line);

// `milliseconds` for a system call that takes a signed int, where a negative
// value would mean "wait for ever": large values stop at the largest int.
inline int WaitMsForSystem(std::uint64_t milliseconds) {
  return milliseconds > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(milliseconds);
}

}  // namespace parlex2
