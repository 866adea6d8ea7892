// The script's four-register stack calculator and its limit tests, driven by
// the "=" lines of a script. Reverse Polish: x is the top register. Numbers
// come only from the script text and the result slots; nothing is displayed.
#pragma once

#include <array>
#include <string_view>

namespace parlex2 {

struct CalcStack {
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
  double t = 0.0;
};

class Calculator {
 public:
  static constexpr int kResultSlotCount = 100;  // numbered 1..100

  // Runs one operation: the text after "=", compared whole and with case.
  // Returns true when the line is subject to the fail check (every operation
  // but "cleartest") and that check finds a failure with stop-on-fail set; the
  // runner then stops a running script.
  bool Execute(std::string_view operation);

  // The reset at the start of a run from the first line: registers 0.0, no
  // failures, stop-on-fail off. The result slots are kept.
  void Reset();

  CalcStack calcStack;
  std::array<double, kResultSlotCount> resultSlots{};
  int failCount = 0;
  bool stopOnFail = false;

 private:
  void Push(double value);
  // Two-operand result: x = result, the rest drops by one, t is duplicated.
  void PopInto(double result);
  void Test(std::string_view condition);
};

// The decimal number at the start of `text` (sign, digits, point, fraction,
// exponent; reading stops at the first character that does not fit), 0.0 when
// there is none. Hexadecimal, "inf" and "nan" are not numbers here.
double ParseDecimalPrefix(std::string_view text);

}  // namespace parlex2
