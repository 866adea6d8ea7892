#include "script/calculator.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <utility>

#include "common/text.h"

namespace parlex2 {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();

// How much of a reply a failed reading quotes.
constexpr std::size_t kQuotedReplyMax = 40;

// True when a number begins at `at`: a sign is followed by a digit, or by a
// point and a digit; a point by a digit; or a digit.
bool NumberStartsAt(std::string_view text, std::size_t at) {
  std::size_t i = at;
  if (text[i] == '+' || text[i] == '-') ++i;
  if (i < text.size() && IsDigit(text[i])) return true;
  return i + 1 < text.size() && text[i] == '.' && IsDigit(text[i + 1]);
}

// "the upper limit 5.25", "the lower limit 4.75" or "4.75 .. 5.25".
std::string LimitsText(const CalcCheck& check) {
  if (std::isnan(check.upper) && std::isnan(check.lower)) return "no limit";
  if (check.condition == "hi") return "the upper limit " + NumberText(check.upper);
  if (check.condition == "lo") return "the lower limit " + NumberText(check.lower);
  return NumberText(check.lower) + " .. " + NumberText(check.upper);
}

}  // namespace

double ParseDecimalPrefix(std::string_view text) {
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return 0.0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    if (j < text.size() && IsDigit(text[j])) {
      while (j < text.size() && IsDigit(text[j])) ++j;
      i = j;
    }
  }
  // The prefix is plain decimal, so strtod reads exactly it ("C" locale).
  const std::string number(text.substr(0, i));
  return std::strtod(number.c_str(), nullptr);
}

std::optional<double> ReadReplyNumber(std::string_view text) {
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (!NumberStartsAt(text, at)) continue;
    const double value = ParseDecimalPrefix(text.substr(at));
    if (!std::isfinite(value)) return std::nullopt;
    return value;
  }
  return std::nullopt;
}

std::string NumberText(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

void Calculator::Reset() {
  calcStack = CalcStack{};
  failCount = 0;
  stopOnFail = false;
}

void Calculator::Push(double value) {
  CalcStack& s = calcStack;
  s.t = s.z;
  s.z = s.y;
  s.y = s.x;
  s.x = value;
}

void Calculator::PopInto(double result) {
  CalcStack& s = calcStack;
  s.x = result;
  s.y = s.z;
  s.z = s.t;
}

void Calculator::Test(std::string_view condition) {
  const CalcStack& s = calcStack;
  CalcCheck check;
  check.condition = std::string(condition);
  check.value = s.x;
  check.lower = kNoValue;
  check.upper = kNoValue;
  const std::string value = NumberText(s.x);
  // Every comparison with a NaN is false, so a NaN never fails a test: the
  // count stays as it always was, but the record does not call it a pass.
  bool failed = false;
  if (condition == "hi") {
    failed = s.x > s.y;
    check.upper = s.y;
    check.reason = value + " is above the upper limit " + NumberText(s.y);
  } else if (condition == "lo") {
    failed = s.x < s.y;
    check.lower = s.y;
    check.reason = value + " is below the lower limit " + NumberText(s.y);
  } else if (condition == "out") {
    failed = s.x > s.z || s.x < s.y;
    check.lower = s.y;
    check.upper = s.z;
    check.reason = value + " is outside " + NumberText(s.y) + " .. " + NumberText(s.z);
  } else if (condition == "in") {
    failed = s.y < s.x && s.x < s.z;
    check.lower = s.y;
    check.upper = s.z;
    check.reason = value + " is inside " + NumberText(s.y) + " .. " + NumberText(s.z);
  } else {
    return;  // no condition: no test
  }
  if (failed) ++failCount;
  check.passed = !failed && !std::isnan(s.x);
  if (check.passed) {
    check.reason.clear();
  } else if (!failed) {
    check.reason = "no value to test against " + LimitsText(check);
  }
  lastCheck = std::move(check);
}

void Calculator::Reply(std::optional<std::string_view> reply) {
  const std::optional<double> number = reply ? ReadReplyNumber(*reply) : std::nullopt;
  if (number) {
    Push(*number);
    return;
  }
  // A missing reading must never pass: NaN fails no test, so the reading
  // itself counts the failure.
  Push(kNoValue);
  ++failCount;
  CalcCheck check;
  check.condition = "reply";
  check.value = kNoValue;
  check.lower = kNoValue;
  check.upper = kNoValue;
  check.passed = false;
  if (!reply) {
    check.reason = "no line received since the last command";
  } else {
    check.reason = "no number in the reply \"" + std::string(reply->substr(0, kQuotedReplyMax)) +
                   (reply->size() > kQuotedReplyMax ? "\"..." : "\"");
  }
  lastCheck = std::move(check);
}

bool Calculator::Execute(std::string_view op, std::optional<std::string_view> reply) {
  CalcStack& s = calcStack;
  lastCheck.reset();
  const char first = op.empty() ? '\0' : op.front();
  if (op == "*" || op == "mul") {
    PopInto(s.y * s.x);
  } else if (op == "/" || op == "div") {
    PopInto(s.x / s.y);  // the top divided by the one below it
  } else if (op == "+" || op == "add") {
    PopInto(s.y + s.x);
  } else if (op == "-" || op == "sub") {
    PopInto(s.x - s.y);  // the one below subtracted from the top
  } else if (op == "^" || op == "enter") {
    Push(s.x);
  } else if (op == "drop") {
    s.x = s.y;
    s.y = s.z;
    s.z = s.t;
  } else if (op == "roll") {
    const double oldX = s.x;
    s.x = s.y;
    s.y = s.z;
    s.z = s.t;
    s.t = oldX;
  } else if (op == "swap") {
    std::swap(s.x, s.y);
  } else if (op == "sqrt") {
    s.x = std::sqrt(s.x);
  } else if (first == '[') {
    const int n = AtoI(op.substr(1));
    if (n >= 1 && n <= kResultSlotCount) Push(resultSlots[n - 1]);
  } else if (first == '+' || first == '-' || IsDigit(first)) {
    Push(ParseDecimalPrefix(op));
  } else if (op == "cleartest") {
    failCount = 0;
    return false;
  } else if (op == "stop,onfail") {
    stopOnFail = true;
  } else if (op.substr(0, 5) == "test,") {
    Test(op.substr(5));
  } else if (op == "reply") {
    Reply(reply);
  } else if (op.substr(0, 6) == "store,") {
    const int n = AtoI(op.substr(6));
    if (n >= 1 && n <= kResultSlotCount) resultSlots[n - 1] = s.x;
  }
  return failCount > 0 && stopOnFail;
}

}  // namespace parlex2
