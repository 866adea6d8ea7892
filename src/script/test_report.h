// A run's record as the files a test station reads: JUnit XML for CI servers
// (one testsuite, one testcase per test line, a failure carrying the value and
// the limits, the pane's text in system-out) and JSON (docs/test-report.schema.json).
// One writer each, used by the window and the command line alike.
//
// Texts from the script and the instrument may hold anything: bytes that are
// not UTF-8 become U+FFFD, and in XML so do the control characters XML 1.0
// cannot carry (every one but tab and line feed); carriage returns are
// dropped, so each line ends with a line feed.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "script/run_record.h"

namespace parlex2 {

enum class ReportFormat { JUnit, Json };

std::string JUnitReport(const RunRecord& record);
std::string JsonReport(const RunRecord& record);
std::string ReportText(const RunRecord& record, ReportFormat format);

// The format for a file chosen in a save dialog: a name ending ".json" or
// ".xml" (any case) says it; otherwise the file type chosen (1 JUnit XML,
// 2 JSON).
ReportFormat ReportFormatFor(std::string_view path, int fileType);

// Writes `text` to `path` byte for byte, making missing folders on the way.
// The reason when it could not be written; nothing when it was.
std::optional<std::string> WriteReportFile(const std::string& path, std::string_view text);

// One line for a failed test, as the command line prints it: its line, its
// name when the script gave one, the condition, then the value and limits,
// e.g. "line 14 (Load current): hi: 0.532 is above the upper limit 0.5".
std::string FailedTestLine(const TestRecord& test);

// `text` with every byte that is not part of well-formed UTF-8 replaced by
// U+FFFD (overlong forms, surrogates and values above U+10FFFF included).
std::string ValidUtf8(std::string_view text);

}  // namespace parlex2
