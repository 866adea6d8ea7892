// The report writers: what the JSON and JUnit texts hold, how they carry text
// that is not clean UTF-8, and the line a failed test prints. Their validity
// against the published schemas is checked with xmllint and jsonschema by the
// integration suite.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "script/test_report.h"

namespace parlex2::testing {
namespace {

const double kNone = std::numeric_limits<double>::quiet_NaN();
const std::string kBad = "\xEF\xBF\xBD";  // U+FFFD

LocalTime At(int hour, int minute, int second, int ms) {
  LocalTime t;
  t.year = 2025, t.month = 7, t.day = 14;
  t.hour = hour, t.minute = minute, t.second = second, t.millisecond = ms;
  return t;
}

RunRecord Record() {
  RunRecord record;
  record.script = "C:\\tests\\measure_supply.txt";
  record.started = At(9, 5, 30, 125);
  record.finished = At(9, 5, 33, 7);
  record.startTickMs = 1000;
  record.finishTickMs = 3882;
  record.status = RunStatus::Failed;
  record.instrument = InstrumentIdentity{"VXM66", "10472", "STD", "215", "", "46", "12"};
  record.tests = {
      {"Supply <5 V> & \"ripple\" ]]> 'x'", 20, "out", 4.98765, 4.75, 5.25, true, "",
       At(9, 5, 31, 0), 1800},
      {std::string("Load\x01 current \xFF\xC3\xA9"), 31, "hi", 0.532, kNone, 0.5, false,
       "0.532 is above the upper limit 0.5", At(9, 5, 32, 500), 3300},
      {"line 40", 40, "reply", kNone, kNone, kNone, false, "no number in the reply \"OVER\x02\"",
       At(9, 5, 33, 0), 3800},
  };
  record.transcript = "> volt?\r\n+4.98765E+00\r\n\x81\x1B[0m\r\n";
  return record;
}

TEST(TestReport, ValidUtf8ReplacesEveryByteOutsideWellFormedSequences) {
  const std::pair<std::string, std::string> cases[] = {
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
      {"a\xC3", "a" + kBad},                            // cut short
      {"\xE2\x82z", kBad + kBad + "z"},                 // cut short inside
      {"\xC0\xAF", kBad + kBad},                        // overlong '/'
      {"\xE0\x80\xAF", kBad + kBad + kBad},             // overlong, three bytes
      {"\xED\xA0\x80", kBad + kBad + kBad},             // a surrogate
      {"\xF4\x90\x80\x80", kBad + kBad + kBad + kBad},  // above U+10FFFF
      {std::string("\0\x7F", 2), std::string("\0\x7F", 2)},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(ValidUtf8(in), out) << in;
}

TEST(TestReport, JsonHoldsTheRecordWithNullForMissingValues) {
  EXPECT_EQ(nlohmann::json::parse(JsonReport(Record())), nlohmann::json::parse(R"({
    "script": "C:\\tests\\measure_supply.txt",
    "instrument": {"model": "VXM66", "serial": "10472", "type": "STD",
                   "firmware": {"main": "215", "fpga": null, "dsp": "46", "boot": "12"}},
    "started": "2025-07-14T09:05:30.125", "finished": "2025-07-14T09:05:33.007",
    "status": "failed", "failures": 2,
    "tests": [
      {"name": "Supply <5 V> & \"ripple\" ]]> 'x'", "line": 20, "condition": "out",
       "value": 4.98765, "lower": 4.75, "upper": 5.25, "passed": true, "reason": null,
       "time": "2025-07-14T09:05:31.000"},
      {"name": "Load\u0001 current \uFFFD\u00E9", "line": 31, "condition": "hi", "value": 0.532,
       "lower": null, "upper": 0.5, "passed": false,
       "reason": "0.532 is above the upper limit 0.5", "time": "2025-07-14T09:05:32.500"},
      {"name": "line 40", "line": 40, "condition": "reply", "value": null, "lower": null,
       "upper": null, "passed": false, "reason": "no number in the reply \"OVER\u0002\"",
       "time": "2025-07-14T09:05:33.000"}],
    "transcript": "> volt?\n+4.98765E+00\n\uFFFD\u001B[0m\n"})"));

  RunRecord running = Record();
  running.finished.reset();
  running.instrument.reset();
  running.tests[0].value = std::numeric_limits<double>::infinity();
  const nlohmann::json other = nlohmann::json::parse(JsonReport(running));
  EXPECT_TRUE(other["finished"].is_null());
  EXPECT_TRUE(other["instrument"].is_null());
  EXPECT_TRUE(other["tests"][0]["value"].is_null());
}

TEST(TestReport, JUnitCarriesFailuresWithValueAndLimitsAndEscapesEveryText) {
  const std::string xml = JUnitReport(Record());
  for (const char* part : {
           "<testsuite name=\"measure_supply\" tests=\"3\" failures=\"2\" errors=\"0\" "
           "skipped=\"0\" time=\"2.882\" timestamp=\"2025-07-14T09:05:30\" hostname=\"localhost\">",
           "<property name=\"instrument.serial\" value=\"10472\"/>",
           "<property name=\"status\" value=\"failed\"/>",
           "<testcase name=\"Supply &lt;5 V&gt; &amp; &quot;ripple&quot; ]]&gt; &apos;x&apos;\" "
           "classname=\"measure_supply\" time=\"0.800\"/>",
           "<failure type=\"hi\" message=\"0.532 is above the upper limit 0.5\">line 31, "
           "condition hi, value 0.532, upper limit 0.5</failure>",
           "message=\"no number in the reply &quot;OVER\xEF\xBF\xBD&quot;\">line 40, condition "
           "reply, value none</failure>",
           "<system-out>&gt; volt?\n+4.98765E+00\n\xEF\xBF\xBD\xEF\xBF\xBD[0m\n</system-out>",
       }) {
    EXPECT_NE(xml.find(part), std::string::npos) << part << "\n" << xml;
  }
  EXPECT_EQ(xml.find("instrument.firmware.fpga"), std::string::npos);  // not in the replies
  for (char c : xml) {
    const auto byte = static_cast<unsigned char>(c);
    EXPECT_TRUE(byte >= 0x20 || c == '\n') << "control byte " << int(byte);
  }
  EXPECT_EQ(ValidUtf8(xml), xml);
}

TEST(TestReport, FormatFileWriteAndFailedTestLine) {
  EXPECT_EQ(ReportFormatFor("A.XML", 2), ReportFormat::JUnit);
  EXPECT_EQ(ReportFormatFor("a.txt", 2), ReportFormat::Json);
  EXPECT_EQ(ReportFormatFor("json", 1), ReportFormat::JUnit);

  EXPECT_TRUE(WriteReportFile("", "{}"));

  const RunRecord record = Record();
  EXPECT_EQ(FailedTestLine(record.tests[1]),
            "line 31 (Load  current \xFF\xC3\xA9): hi: 0.532 is above the upper limit 0.5");
  EXPECT_EQ(FailedTestLine(record.tests[2]), "line 40: reply: no number in the reply \"OVER \"");
}

}  // namespace
}  // namespace parlex2::testing
