// The "=" calculator: stack rules, operand order, the limit tests, and
// stop-on-fail in a running script.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>

#include "script/calculator.h"
#include "support/fake_shell.h"

namespace parlex2::testing {
namespace {

CalcStack Calc(std::initializer_list<const char*> operations, CalcStack start = {}) {
  Calculator calc;
  calc.calcStack = start;
  for (const char* op : operations) calc.Execute(op);
  return calc.calcStack;
}

void ExpectStack(const CalcStack& s, double x, double y, double z, double t, const char* what) {
  EXPECT_EQ(s.x, x) << what;
  EXPECT_EQ(s.y, y) << what;
  EXPECT_EQ(s.z, z) << what;
  EXPECT_EQ(s.t, t) << what;
}

TEST(ScriptCalculator, OperationsTable) {
  const CalcStack s1234{1, 2, 3, 4};  // x to t
  struct Case {
    const char* what;
    CalcStack result;
    double x, y, z, t;
  };
  const Case cases[] = {
      {"divide: top by the one below", Calc({"5", "2", "/"}), 0.4, 0, 0, 0},
      {"div", Calc({"5", "2", "div"}), 0.4, 0, 0, 0},
      {"subtract: below from the top", Calc({"5", "2", "-"}), -3, 0, 0, 0},
      {"sub", Calc({"5", "2", "sub"}), -3, 0, 0, 0},
      {"add", Calc({"5", "2", "+"}), 7, 0, 0, 0},
      {"multiply pops with t duplicated", Calc({"*"}, s1234), 2, 3, 4, 4},
      {"mul", Calc({"mul"}, s1234), 2, 3, 4, 4},
      {"drop", Calc({"drop"}, s1234), 2, 3, 4, 4},
      {"roll", Calc({"roll"}, s1234), 2, 3, 4, 1},
      {"swap", Calc({"swap"}, s1234), 2, 1, 3, 4},
      {"enter duplicates, t lost", Calc({"enter"}, s1234), 1, 1, 2, 3},
      {"^ is enter", Calc({"^"}, s1234), 1, 1, 2, 3},
      {"a number after enter still pushes", Calc({"5", "enter", "3"}), 3, 5, 5, 0},
      {"sqrt touches only x", Calc({"sqrt"}, CalcStack{16, 2, 3, 4}), 4, 2, 3, 4},
      {"-1 and +1 are numbers", Calc({"-1", "+1"}), 1, -1, 0, 0},
      {"number with exponent and tail", Calc({"2.5e2V", "-0.125"}), -0.125, 250, 0, 0},
      {"incomplete exponent", Calc({"3e+"}), 3, 0, 0, 0},
      {"sign alone pushes 0", Calc({"- 5"}, s1234), 0, 1, 2, 3},
      {"hex is not read", Calc({"0x10"}), 0, 0, 0, 0},
      {"recall pushes the slot", Calc({"[1]", "[100", "[ 7]"}, s1234), 0, 0, 0, 1},
      {"recall outside 1..100 does nothing", Calc({"[0]", "[101]", "[x]", "[-1]"}, s1234), 1, 2, 3,
       4},
      {"case and whole-text matching", Calc({"MUL", "mul ", ".5", " 5", "Swap"}, s1234), 1, 2, 3,
       4},
      {"unknown and tests leave the stack", Calc({"test,hi", "test,in", "cleartest"}, s1234), 1, 2,
       3, 4},
  };
  for (const Case& c : cases) {
    ExpectStack(c.result, c.x, c.y, c.z, c.t, c.what);
  }
}

TEST(ScriptCalculator, ArithmeticFaultsGiveInfinityOrNaN) {
  EXPECT_TRUE(std::isinf(Calc({"0", "1", "/"}).x));
  EXPECT_TRUE(std::isnan(Calc({"-4", "sqrt"}).x));
}

TEST(ScriptCalculator, LimitTests) {
  struct Case {
    std::initializer_list<const char*> ops;
    int failures;
  };
  const Case cases[] = {
      {{"10", "11", "test,hi"}, 1},
      {{"10", "10", "test,hi"}, 0},
      {{"10", "9", "test,hi"}, 0},
      {{"10", "9", "test,lo"}, 1},
      {{"10", "10", "test,lo"}, 0},
      // band 10..20: upper limit first, then lower, then the value
      {{"20", "10", "21", "test,out"}, 1},
      {{"20", "10", "9", "test,out"}, 1},
      {{"20", "10", "10", "test,out"}, 0},
      {{"20", "10", "20", "test,out"}, 0},
      {{"20", "10", "15", "test,in"}, 1},
      {{"20", "10", "10", "test,in"}, 0},
      {{"20", "10", "20", "test,in"}, 0},
      {{"10", "11", "test,HI"}, 0},
      {{"10", "11", "test,hi "}, 0},
      {{"10", "11", "Test,hi"}, 0},
      // a NaN never fails a test
      {{"-1", "sqrt", "test,hi"}, 0},
      {{"-1", "sqrt", "test,lo"}, 0},
      {{"-1", "sqrt", "test,out"}, 0},
      {{"20", "-1", "sqrt", "test,out"}, 0},
      {{"10", "11", "test,hi", "test,hi", "cleartest", "test,hi"}, 1},
  };
  for (const Case& c : cases) {
    Calculator calc;
    std::string trace;
    for (const char* op : c.ops) {
      calc.Execute(op);
      trace += std::string(op) + " ";
    }
    EXPECT_EQ(calc.failCount, c.failures) << trace;
  }
}

TEST(ScriptCalculator, TestsRecordTheirValueLimitsAndVerdict) {
  const double none = std::nan("");
  struct Case {
    std::initializer_list<const char*> ops;
    const char* condition;  // nullptr: no check recorded
    double value, lower, upper;
    bool passed;
    const char* reason;
  };
  const Case cases[] = {
      {{"10", "11", "test,hi"}, "hi", 11, none, 10, false, "11 is above the upper limit 10"},
      {{"10", "9.5", "test,hi"}, "hi", 9.5, none, 10, true, ""},
      {{"4.75", "4.6", "test,lo"},
       "lo",
       4.6,
       4.75,
       none,
       false,
       "4.6 is below the lower limit 4.75"},
      {{"20", "10", "21", "test,out"}, "out", 21, 10, 20, false, "21 is outside 10 .. 20"},
      {{"20", "10", "15", "test,in"}, "in", 15, 10, 20, false, "15 is inside 10 .. 20"},
      {{"20", "10", "-1", "sqrt", "test,out"},
       "out",
       none,
       10,
       20,
       false,
       "no value to test against 10 .. 20"},
      {{"5", "-1", "sqrt", "test,hi"},
       "hi",
       none,
       none,
       5,
       false,
       "no value to test against the upper limit 5"},
      {{"10", "11", "test,HI"}, nullptr, 0, 0, 0, true, ""},
      {{"10", "11", "test,hi", "drop"}, nullptr, 0, 0, 0, true, ""},  // only the line's own
  };
  auto same = [](double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; };
  for (const Case& c : cases) {
    Calculator calc;
    std::string trace;
    for (const char* op : c.ops) {
      calc.Execute(op);
      trace += std::string(op) + " ";
    }
    SCOPED_TRACE(trace);
    ASSERT_EQ(calc.lastCheck.has_value(), c.condition != nullptr);
    if (!c.condition) continue;
    const CalcCheck& check = *calc.lastCheck;
    EXPECT_EQ(check.condition, c.condition);
    EXPECT_TRUE(same(check.value, c.value)) << check.value;
    EXPECT_TRUE(same(check.lower, c.lower)) << check.lower;
    EXPECT_TRUE(same(check.upper, c.upper)) << check.upper;
    EXPECT_EQ(check.passed, c.passed);
    EXPECT_EQ(check.reason, c.reason);
  }
}

TEST(ScriptCalculator, ReplyNumberIsTheFirstDecimalNumberOfTheLine) {
  struct Case {
    std::string text;
    std::optional<double> number;
  };
  const std::optional<double> none;
  const Case cases[] = {
      {"+4.98765E+00", 4.98765},
      {"V=5.01 A", 5.01},
      {"-0.0125", -0.0125},
      {"1.23400E0", 1.234},  // a binary value as the pane shows it
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
      {"OVERRANGE", none},
      {"", none},
      {"+-.e", none},
      {"nan", none},
      {"inf", none},
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
  Calculator calc;
  calc.calcStack = {1, 2, 3, 4};
  EXPECT_FALSE(calc.Execute("reply", "V=5.01 A"));
  ExpectStack(calc.calcStack, 5.01, 1, 2, 3, "a reading pushes");
  EXPECT_EQ(calc.failCount, 0);
  EXPECT_FALSE(calc.lastCheck);

  struct Case {
    std::optional<std::string_view> reply;
    const char* reason;
  };
  const Case missing[] = {
      {std::nullopt, "no line received since the last command"},
      {"OVERRANGE", "no number in the reply \"OVERRANGE\""},
      {"inf", "no number in the reply \"inf\""},
      {std::string_view("ERR 1e999 ERR 1e999 ERR 1e999 ERR 1e999 ERR 1e999"),
       "no number in the reply \"ERR 1e999 ERR 1e999 ERR 1e999 ERR 1e999 \"..."},
  };
  int failures = 0;
  for (const Case& c : missing) {
    EXPECT_FALSE(calc.Execute("reply", c.reply));
    EXPECT_TRUE(std::isnan(calc.calcStack.x));
    EXPECT_EQ(calc.failCount, ++failures);
    ASSERT_TRUE(calc.lastCheck);
    EXPECT_EQ(calc.lastCheck->condition, "reply");
    EXPECT_FALSE(calc.lastCheck->passed);
    EXPECT_EQ(calc.lastCheck->reason, c.reason);
  }
  // The NaN then fails no limit test by the count, as every NaN; the reading
  // has counted already, and with stop-on-fail the reading line stops.
  EXPECT_FALSE(calc.Execute("test,hi"));
  EXPECT_EQ(calc.failCount, failures);
  calc.Execute("cleartest");
  calc.Execute("stop,onfail");
  EXPECT_TRUE(calc.Execute("reply"));
  calc.Execute("Reply");  // case matters: no reading, no further failure
  EXPECT_EQ(calc.failCount, 1);
}

TEST(ScriptCalculator, StoreCopiesXIntoASlotAndRecallBringsItBack) {
  Calculator calc;
  calc.calcStack = {2.5, 7, 8, 9};
  for (const char* op :
       {"store,1", "store,100", "store,0", "store,101", "store,x", "Store,2", "store, 50"}) {
    calc.Execute(op);
  }
  ExpectStack(calc.calcStack, 2.5, 7, 8, 9, "store changes no register");
  for (int slot = 1; slot <= Calculator::kResultSlotCount; ++slot) {
    const bool stored = slot == 1 || slot == 100 || slot == 50;
    EXPECT_EQ(calc.resultSlots[slot - 1], stored ? 2.5 : 0.0) << slot;
  }
  calc.Execute("drop");
  calc.Execute("[100]");
  ExpectStack(calc.calcStack, 2.5, 7, 8, 9, "recalled on top");
}

TEST(ScriptCalculator, FailCheckAppliesToEveryLineButCleartest) {
  Calculator calc;
  EXPECT_FALSE(calc.Execute("10"));
  EXPECT_FALSE(calc.Execute("11"));
  EXPECT_FALSE(calc.Execute("test,hi"));     // failed, but stop-on-fail is off
  EXPECT_TRUE(calc.Execute("stop,onfail"));  // a failure already counted
  EXPECT_TRUE(calc.Execute("nothing"));
  EXPECT_FALSE(calc.Execute("cleartest"));
  EXPECT_FALSE(calc.Execute("1"));
  calc.resultSlots[4] = 2.5;
  calc.Reset();
  EXPECT_EQ(calc.failCount, 0);
  EXPECT_FALSE(calc.stopOnFail);
  EXPECT_EQ(calc.calcStack.y, 0.0);
  EXPECT_EQ(calc.resultSlots[4], 2.5);  // the reset keeps the slots
}

TEST(ScriptCalculator, StopOnFailPausesTheRunUntilCleartest) {
  FakeShell shell;
  shell.Load({"=stop,onfail", "=10", "=11", "=test,hi", "\"one", "=drop", "=cleartest", "\"two"});
  shell.Press(IDC_RUN);
  shell.RunUntilStopped();
  EXPECT_EQ(shell.ScriptSelection(), 4);
  EXPECT_EQ(shell.engine.lastStopReason(), StopReason::TestFailed);

  // Resumed: a send line has no fail check, the next calculator line stops again.
  shell.Press(IDC_RUN);
  shell.RunUntilStopped();
  EXPECT_EQ(shell.ScriptSelection(), 6);
  EXPECT_EQ(shell.Sent(), std::vector<std::string>{"one"});
  shell.Press(IDC_RUN);  // cleartest lets it go on
  shell.RunUntilStopped();
  EXPECT_EQ(shell.Sent(), (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(shell.ScriptSelection(), -1);

  // Without stop-on-fail the script runs on and counts.
  shell.Load({"=10", "=11", "=test,hi", "\"three"});
  shell.Press(IDC_RUN);
  shell.RunUntilStopped();
  EXPECT_EQ(shell.ScriptSelection(), -1);
  EXPECT_EQ(shell.engine.calculator().failCount, 1);
  EXPECT_EQ(shell.RunCommandsHandled(), 4);  // three before, one at this end
}

}  // namespace
}  // namespace parlex2::testing
