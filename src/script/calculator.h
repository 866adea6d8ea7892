// The script's four-register stack calculator and its limit tests, driven by
// the "=" lines of a script. Reverse Polish: x is the top register. Numbers
// come from the script text, the result slots and the instrument's last reply
// ("=reply"); nothing is displayed.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace parlex2 {

struct CalcStack {
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
  double t = 0.0;
};

// What a test line, or a reading that found no number, concluded: the run's
// record keeps it.
struct CalcCheck {
  std::string condition;  // "hi", "lo", "out", "in"; "reply" for a failed reading
  double value = 0.0;     // x; NaN when there is none
  double lower = 0.0;     // the limits the condition used; NaN when unused
  double upper = 0.0;
  bool passed = true;
  std::string reason;  // why it did not pass
};

class Calculator {
 public:
  static constexpr int kResultSlotCount = 100;  // numbered 1..100

  // Runs one operation: the text after "=", compared whole and with case.
  // `reply` is the last line received from the instrument since the script
  // last sent a command (none when no line came), read by "=reply".
  // Returns true when the line is subject to the fail check (every operation
  // but "cleartest") and that check finds a failure with stop-on-fail set; the
  // runner then stops a running script.
  bool Execute(std::string_view operation, std::optional<std::string_view> reply = std::nullopt);

  // The reset at the start of a run from the first line: registers 0.0, no
  // failures, stop-on-fail off. The result slots are kept.
  void Reset();

  CalcStack calcStack;
  std::array<double, kResultSlotCount> resultSlots{};
  int failCount = 0;
  bool stopOnFail = false;
  // Set by the last Execute when it ran a test with a known condition, or a
  // reading that found no number; empty otherwise.
  std::optional<CalcCheck> lastCheck;

 private:
  void Push(double value);
  // Two-operand result: x = result, the rest drops by one, t is duplicated.
  void PopInto(double result);
  void Test(std::string_view condition);
  void Reply(std::optional<std::string_view> reply);
};

// The decimal number at the start of `text` (sign, digits, point, fraction,
// exponent; reading stops at the first character that does not fit), 0.0 when
// there is none. Hexadecimal, "inf" and "nan" are not numbers here.
double ParseDecimalPrefix(std::string_view text);

// The first decimal number anywhere in `text`: an optional sign, digits with
// an optional point and fraction (digits on at least one side of the point),
// an optional exponent; "+4.98765E+00" gives 4.98765, "V=5.01 A" gives 5.01.
// Nothing when the text holds no number, or when its first number is beyond
// the range of a double ("1e999"): an infinity read from a reply could pass a
// limit test. "nan" and "inf" hold no number.
std::optional<double> ReadReplyNumber(std::string_view text);

// The shortest text that reads back as `value` ("4.98765", "-0.0125", "1e+300";
// "nan", "inf" and "-inf" for those).
std::string NumberText(double value);

}  // namespace parlex2
