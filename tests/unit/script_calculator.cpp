// The "=" calculator: stack rules, operand order and the limit tests.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <sstream>
#include <string>

#include "script/calculator.h"

namespace parlex2::testing {
namespace {

// Runs the operations of `ops`, separated by '|', on a fresh calculator.
Calculator Calc(std::string_view ops) {
  Calculator calc;
  for (std::size_t start = 0, end = 0; start <= ops.size(); start = end + 1) {
    end = std::min(ops.find('|', start), ops.size());
    calc.Execute(ops.substr(start, end - start));
  }
  return calc;
}

std::string Text(double value) {
  if (std::isnan(value)) return "nan";
  std::ostringstream text;
  text << value;
  return text.str();
}

// The registers, x first.
std::string Stack(const CalcStack& s) {
  return Text(s.x) + " " + Text(s.y) + " " + Text(s.z) + " " + Text(s.t);
}

// The failures counted, then what the last line's test or reading concluded:
// its condition, value, lower and upper limit, and verdict.
std::string Checked(const Calculator& calc) {
  std::string text = std::to_string(calc.failCount);
  if (!calc.lastCheck) return text + " none";
  const CalcCheck& c = *calc.lastCheck;
  return text + " " + c.condition + " " + Text(c.value) + " " + Text(c.lower) + " " +
         Text(c.upper) + (c.passed ? " passed" : " failed: " + c.reason);
}

TEST(ScriptCalculator, OperationsTable) {
  // "4|3|2|1|" fills the registers: x 1, y 2, z 3, t 4.
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"divide: top by the one below", "5|2|/", "0.4 0 0 0"},
      {"div", "5|2|div", "0.4 0 0 0"},
      {"subtract: below from the top", "5|2|-", "-3 0 0 0"},
      {"sub", "5|2|sub", "-3 0 0 0"},
      {"add", "5|2|+", "7 0 0 0"},
      {"multiply pops with t duplicated", "4|3|2|1|*", "2 3 4 4"},
      {"mul", "4|3|2|1|mul", "2 3 4 4"},
      {"drop", "4|3|2|1|drop", "2 3 4 4"},
      {"roll", "4|3|2|1|roll", "2 3 4 1"},
      {"swap", "4|3|2|1|swap", "2 1 3 4"},
      {"enter duplicates, t lost", "4|3|2|1|enter", "1 1 2 3"},
      {"^ is enter", "4|3|2|1|^", "1 1 2 3"},
      {"a number after enter still pushes", "5|enter|3", "3 5 5 0"},
      {"sqrt touches only x", "4|3|2|16|sqrt", "4 2 3 4"},
      {"division by zero", "0|1|/", "inf 0 0 0"},
      {"-1 and +1 are numbers", "-1|+1", "1 -1 0 0"},
      {"number with exponent and tail", "2.5e2V|-0.125", "-0.125 250 0 0"},
      {"incomplete exponent", "3e+", "3 0 0 0"},
      {"sign alone pushes 0", "4|3|2|1|- 5", "0 1 2 3"},
      {"hex is not read", "0x10", "0 0 0 0"},
      {"recall pushes the slot", "4|3|2|1|[1]|[100|[ 7]", "0 0 0 1"},
      {"recall outside 1..100 does nothing", "4|3|2|1|[0]|[101]|[x]|[-1]", "1 2 3 4"},
      {"case and whole-text matching", "4|3|2|1|MUL|mul |.5| 5|Swap", "1 2 3 4"},
      {"unknown and tests leave the stack", "4|3|2|1|test,hi|test,in|cleartest", "1 2 3 4"},
  };
  for (const auto& [what, ops, stack] : cases) {
    EXPECT_EQ(Stack(Calc(ops).calcStack), stack) << what << ": " << ops;
  }
}

// A test line's limits come first, then the value in x; "hi" and "lo" take
// the limit from y, "out" and "in" the band from y (lower) to z (upper).
TEST(ScriptCalculator, LimitTestsCountFailuresAndRecordTheirCheck) {
  const std::pair<const char*, const char*> cases[] = {
      {"10|11|test,hi", "1 hi 11 nan 10 failed: 11 is above the upper limit 10"},
      {"10|10|test,hi", "0 hi 10 nan 10 passed"},
      {"10|9.5|test,hi", "0 hi 9.5 nan 10 passed"},
      {"4.75|4.6|test,lo", "1 lo 4.6 4.75 nan failed: 4.6 is below the lower limit 4.75"},
      {"10|10|test,lo", "0 lo 10 10 nan passed"},
      {"20|10|21|test,out", "1 out 21 10 20 failed: 21 is outside 10 .. 20"},
      {"20|10|9|test,out", "1 out 9 10 20 failed: 9 is outside 10 .. 20"},
      {"20|10|10|test,out", "0 out 10 10 20 passed"},
      {"20|10|20|test,out", "0 out 20 10 20 passed"},
      {"20|10|15|test,in", "1 in 15 10 20 failed: 15 is inside 10 .. 20"},
      {"20|10|10|test,in", "0 in 10 10 20 passed"},
      {"20|10|20|test,in", "0 in 20 10 20 passed"},
      // Conditions match whole and with case.
      {"10|11|test,HI", "0 none"},
      {"10|11|test,hi ", "0 none"},
      {"10|11|Test,hi", "0 none"},
      // A NaN never counts as a failure, but it passes no test.
      {"5|-1|sqrt|test,hi", "0 hi nan nan 5 failed: no value to test against the upper limit 5"},
      {"5|-1|sqrt|test,lo", "0 lo nan 5 nan failed: no value to test against the lower limit 5"},
      {"20|10|-1|sqrt|test,out", "0 out nan 10 20 failed: no value to test against 10 .. 20"},
      // Only the line's own check is kept; cleartest clears the count.
      {"10|11|test,hi|drop", "1 none"},
      {"10|11|test,hi|test,hi|cleartest|test,hi",
       "1 hi 11 nan 10 failed: 11 is above the upper limit 10"},
  };
  for (const auto& [ops, checked] : cases) EXPECT_EQ(Checked(Calc(ops)), checked) << ops;
}

TEST(ScriptCalculator, ReplyNumberIsTheFirstDecimalNumberOfTheLine) {
  struct Case {
    std::string text;
    std::optional<double> number;
  };
  const std::optional<double> none;
  const Case cases[] = {
      {"-0.0125", -0.0125},
      {".5V", 0.5},
      {"x-.25", -0.25},
      {"7.", 7},
      {"1e5x", 1e5},
      {"2E", 2},
      {"--5", -5},
      {"+-3", -3},
      {"1.2.3", 1.2},
      {"CH1: 4.98", 1},  // the first number, whatever follows
      {"0x1A", 0},
      {"1e-999", 0},  // too small to hold: 0
      {std::string("\x81\0\xFF junk 7", 10), 7},
      {"", none},
      {"+-.e", none},
      {"nan", none},
      {"-INF", none},
      {"1e999", none},  // an infinity could pass a limit test
      {"-1e999 5", none},
      {std::string(20000, '9'), none},
      {std::string(20000, '.') + "5", 0.5},
      {std::string(20000, 'x'), none},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReadReplyNumber(c.text), c.number) << c.text.substr(0, 40);
  }
}

TEST(ScriptCalculator, ReplyPushesTheReadingAndAMissingOneFails) {
  Calculator calc = Calc("4|3|2|1");
  EXPECT_FALSE(calc.Execute("reply", "V=5.01 A"));
  EXPECT_EQ(Checked(calc), "0 none");
  EXPECT_EQ(Stack(calc.calcStack), "5.01 1 2 3");

  const std::pair<std::optional<std::string_view>, const char*> missing[] = {
      {std::nullopt, "no line received since the last command"},
      {"OVERRANGE", "no number in the reply \"OVERRANGE\""},
      {"inf", "no number in the reply \"inf\""},
      {std::string_view("ERR 1e999 ERR 1e999 ERR 1e999 ERR 1e999 ERR 1e999"),
       "no number in the reply \"ERR 1e999 ERR 1e999 ERR 1e999 ERR 1e999 \"..."},
  };
  int failures = 0;
  for (const auto& [reply, reason] : missing) {
    EXPECT_FALSE(calc.Execute("reply", reply));
    EXPECT_EQ(Checked(calc), std::to_string(++failures) + " reply nan nan nan failed: " + reason);
    EXPECT_TRUE(std::isnan(calc.calcStack.x));
  }
  // The NaN then fails no limit test by the count, as every NaN; the reading
  // has counted already. Stop-on-fail turned on after a failure stops at
  // once, then every line but cleartest stops while a failure counts: the
  // reading line too.
  EXPECT_FALSE(calc.Execute("test,hi"));
  EXPECT_EQ(calc.failCount, failures);
  EXPECT_TRUE(calc.Execute("stop,onfail"));
  EXPECT_TRUE(calc.Execute("nothing"));
  EXPECT_FALSE(calc.Execute("cleartest"));
  EXPECT_FALSE(calc.Execute("1"));
  EXPECT_TRUE(calc.Execute("reply"));
  calc.Execute("Reply");  // case matters: no reading, no further failure
  EXPECT_EQ(calc.failCount, 1);
}

TEST(ScriptCalculator, StoreCopiesXIntoASlotFromOneTo100) {
  Calculator calc = Calc("9|8|7|2.5|store,1|store,100|store,0|store,101|store,x|Store,2|store, 50");
  EXPECT_EQ(Stack(calc.calcStack), "2.5 7 8 9");  // store changes no register
  for (int slot = 1; slot <= Calculator::kResultSlotCount; ++slot) {
    const bool stored = slot == 1 || slot == 100 || slot == 50;
    EXPECT_EQ(calc.resultSlots[slot - 1], stored ? 2.5 : 0.0) << slot;
  }
}

}  // namespace
}  // namespace parlex2::testing
