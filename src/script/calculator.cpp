#include "script/calculator.h"

#include <cmath>
#include <cstdlib>
#include <string>
#include <utility>

#include "common/text.h"

namespace parlex2 {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

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
  // Every comparison with a NaN is false, so a NaN never fails a test.
  bool failed = false;
  if (condition == "hi") {
    failed = s.x > s.y;
  } else if (condition == "lo") {
    failed = s.x < s.y;
  } else if (condition == "out") {
    failed = s.x > s.z || s.x < s.y;
  } else if (condition == "in") {
    failed = s.y < s.x && s.x < s.z;
  }
  if (failed) ++failCount;
}

bool Calculator::Execute(std::string_view op) {
  CalcStack& s = calcStack;
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
  }
  return failCount > 0 && stopOnFail;
}

}  // namespace parlex2
