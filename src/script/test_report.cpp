#include "script/test_report.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <system_error>

#include "script/calculator.h"

namespace parlex2 {
namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// The suite's and test cases' class name: the script file's name without its
// folder (after a slash or a backslash, whatever the platform) and extension.
std::string SuiteName(std::string_view script) {
  const std::size_t slash = script.find_last_of("/\\");
  if (slash != std::string_view::npos) script.remove_prefix(slash + 1);
  const std::size_t dot = script.rfind('.');
  if (dot != std::string_view::npos && dot > 0) script = script.substr(0, dot);
  return script.empty() ? std::string("script") : std::string(script);
}

std::string TwoDigits(int value) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d", value);
  return text;
}

// "2025-07-14T09:05:30", local time with no zone (as JUnit's timestamp has it).
std::string DateTime(const LocalTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-", t.year);
  return text + TwoDigits(t.month) + "-" + TwoDigits(t.day) + "T" + TwoDigits(t.hour) + ":" +
         TwoDigits(t.minute) + ":" + TwoDigits(t.second);
}

// The same with milliseconds: "2025-07-14T09:05:30.125".
std::string DateTimeMs(const LocalTime& t) {
  char text[8];
  std::snprintf(text, sizeof text, ".%03d", t.millisecond);
  return DateTime(t) + text;
}

std::string Seconds(std::uint64_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%llu.%03u", static_cast<unsigned long long>(ms / 1000),
                static_cast<unsigned>(ms % 1000));
  return text;
}

// Well-formed UTF-8 without carriage returns.
std::string CleanText(std::string_view text) {
  std::string out = ValidUtf8(text);
  std::erase(out, '\r');
  return out;
}

// Escaped for XML text (or, with `attribute`, for a quoted attribute value,
// where tab and line feed are kept as references so they survive). Takes
// clean text; characters XML 1.0 cannot carry become U+FFFD.
std::string Xml(std::string_view clean, bool attribute = false) {
  std::string out;
  out.reserve(clean.size());
  for (std::size_t i = 0; i < clean.size(); ++i) {
    const auto c = static_cast<unsigned char>(clean[i]);
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      case '\t':
        out += attribute ? "&#9;" : "\t";
        break;
      case '\n':
        out += attribute ? "&#10;" : "\n";
        break;
      default:
        if (c < 0x20) {
          out += kReplacement;
        } else if (c == 0xEF && i + 2 < clean.size() && clean[i + 1] == '\xBF' &&
                   (clean[i + 2] == '\xBE' || clean[i + 2] == '\xBF')) {
          out += kReplacement;  // U+FFFE and U+FFFF are no characters
          i += 2;
        } else {
          out.push_back(clean[i]);
        }
    }
  }
  return out;
}

std::string XmlAttr(std::string_view text) { return Xml(CleanText(text), true); }

// "condition hi, value 0.532, upper limit 0.5": a failure's value and limits.
std::string FailureDetail(const TestRecord& test) {
  std::string text = "line " + std::to_string(test.line) + ", condition " + test.condition +
                     ", value " + (std::isnan(test.value) ? "none" : NumberText(test.value));
  if (!std::isnan(test.lower)) text += ", lower limit " + NumberText(test.lower);
  if (!std::isnan(test.upper)) text += ", upper limit " + NumberText(test.upper);
  return text;
}

using Json = nlohmann::ordered_json;

Json Number(double value) { return std::isfinite(value) ? Json(value) : Json(nullptr); }
Json TextOrNull(const std::string& text) {
  return text.empty() ? Json(nullptr) : Json(CleanText(text));
}

}  // namespace

const char* RunStatusName(RunStatus status) {
  switch (status) {
    case RunStatus::Running:
      return "running";
    case RunStatus::Passed:
      return "passed";
    case RunStatus::Failed:
      return "failed";
    case RunStatus::Stopped:
      return "stopped";
    case RunStatus::ConnectionLost:
      return "connection_lost";
    case RunStatus::SendFailed:
      return "send_failed";
  }
  return "running";
}

int RunRecord::FailedTests() const {
  int failed = 0;
  for (const TestRecord& test : tests) failed += test.passed ? 0 : 1;
  return failed;
}

std::string ValidUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      out.push_back(text[i++]);
      continue;
    }
    std::size_t length = 0;
    std::uint32_t code = 0;
    std::uint32_t least = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2, code = lead & 0x1Fu, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3, code = lead & 0x0Fu, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4, code = lead & 0x07u, least = 0x10000;
    }
    bool valid = length > 0 && i + length <= text.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      valid = (next & 0xC0u) == 0x80u;
      code = (code << 6) | (next & 0x3Fu);
    }
    valid = valid && code >= least && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF);
    if (valid) {
      out.append(text.substr(i, length));
      i += length;
    } else {
      out += kReplacement;
      ++i;
    }
  }
  return out;
}

std::string JUnitReport(const RunRecord& record) {
  const std::string suite = XmlAttr(SuiteName(record.script));
  const std::uint64_t elapsed =
      record.finishTickMs > record.startTickMs ? record.finishTickMs - record.startTickMs : 0;
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  xml += "<testsuite name=\"" + suite + "\" tests=\"" + std::to_string(record.tests.size()) +
         "\" failures=\"" + std::to_string(record.FailedTests()) +
         "\" errors=\"0\" skipped=\"0\" time=\"" + Seconds(elapsed) + "\" timestamp=\"" +
         DateTime(record.started) + "\" hostname=\"localhost\">\n";

  xml += "  <properties>\n";
  auto property = [&xml](const char* name, const std::string& value) {
    if (value.empty()) return;
    xml += "    <property name=\"" + std::string(name) + "\" value=\"" + XmlAttr(value) + "\"/>\n";
  };
  property("script", record.script);
  property("status", RunStatusName(record.status));
  property("started", DateTimeMs(record.started));
  if (record.finished) property("finished", DateTimeMs(*record.finished));
  if (record.instrument) {
    const InstrumentIdentity& id = *record.instrument;
    property("instrument.model", id.model);
    property("instrument.serial", id.serialNumber);
    property("instrument.type", id.type);
    property("instrument.firmware.main", id.mainRelease);
    property("instrument.firmware.fpga", id.fpgaRelease);
    property("instrument.firmware.dsp", id.dspRelease);
    property("instrument.firmware.boot", id.bootRelease);
  }
  xml += "  </properties>\n";

  // A test case's time is the time since the test before it (or the start):
  // the lines that led to it.
  std::uint64_t previous = record.startTickMs;
  for (const TestRecord& test : record.tests) {
    const std::uint64_t took = test.tickMs > previous ? test.tickMs - previous : 0;
    previous = std::max(previous, test.tickMs);
    xml += "  <testcase name=\"" + XmlAttr(test.name) + "\" classname=\"" + suite + "\" time=\"" +
           Seconds(took) + "\"";
    if (test.passed) {
      xml += "/>\n";
      continue;
    }
    xml += ">\n    <failure type=\"" + XmlAttr(test.condition) + "\" message=\"" +
           XmlAttr(test.reason) + "\">" + Xml(CleanText(FailureDetail(test))) +
           "</failure>\n  </testcase>\n";
  }
  xml += "  <system-out>" + Xml(CleanText(record.transcript)) + "</system-out>\n";
  xml += "  <system-err></system-err>\n";
  xml += "</testsuite>\n";
  return xml;
}

std::string JsonReport(const RunRecord& record) {
  Json report;
  report["script"] = CleanText(record.script);
  if (record.instrument) {
    const InstrumentIdentity& id = *record.instrument;
    report["instrument"] = {
        {"model", TextOrNull(id.model)},
        {"serial", TextOrNull(id.serialNumber)},
        {"type", TextOrNull(id.type)},
        {"firmware",
         {{"main", TextOrNull(id.mainRelease)},
          {"fpga", TextOrNull(id.fpgaRelease)},
          {"dsp", TextOrNull(id.dspRelease)},
          {"boot", TextOrNull(id.bootRelease)}}},
    };
  } else {
    report["instrument"] = nullptr;
  }
  report["started"] = DateTimeMs(record.started);
  report["finished"] = record.finished ? Json(DateTimeMs(*record.finished)) : Json(nullptr);
  report["status"] = RunStatusName(record.status);
  report["failures"] = record.FailedTests();
  Json tests = Json::array();
  for (const TestRecord& test : record.tests) {
    tests.push_back({
        {"name", CleanText(test.name)},
        {"line", test.line},
        {"condition", CleanText(test.condition)},
        {"value", Number(test.value)},
        {"lower", Number(test.lower)},
        {"upper", Number(test.upper)},
        {"passed", test.passed},
        {"reason", TextOrNull(test.reason)},
        {"time", DateTimeMs(test.time)},
    });
  }
  report["tests"] = std::move(tests);
  report["transcript"] = CleanText(record.transcript);
  // Every text is valid UTF-8 by now; replacing is the fallback that keeps
  // the writer from throwing whatever it is given.
  return report.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string ReportText(const RunRecord& record, ReportFormat format) {
  return format == ReportFormat::Json ? JsonReport(record) : JUnitReport(record);
}

ReportFormat ReportFormatFor(std::string_view path, int fileType) {
  auto endsWith = [path](std::string_view ending) {
    if (path.size() < ending.size()) return false;
    for (std::size_t i = 0; i < ending.size(); ++i) {
      char c = path[path.size() - ending.size() + i];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (c != ending[i]) return false;
    }
    return true;
  };
  if (endsWith(".json")) return ReportFormat::Json;
  if (endsWith(".xml")) return ReportFormat::JUnit;
  return fileType == 2 ? ReportFormat::Json : ReportFormat::JUnit;
}

std::optional<std::string> WriteReportFile(const std::string& path, std::string_view text) {
  if (path.empty()) return std::string("no file name");
  std::error_code ec;
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (!folder.empty() && !std::filesystem::exists(folder, ec)) {
    std::filesystem::create_directories(folder, ec);
    if (ec) return "cannot make the folder " + folder.string() + ": " + ec.message();
  }
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return std::generic_category().message(errno);
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  const int writeError = errno;
  if (std::fclose(file) != 0 || !written) {
    return std::generic_category().message(written ? errno : writeError);
  }
  return std::nullopt;
}

std::string FailedTestLine(const TestRecord& test) {
  const std::string line = "line " + std::to_string(test.line);
  std::string text = line;
  if (test.name != line) text += " (" + test.name + ")";
  text += ": " + test.condition + ": " + test.reason;
  // One terminal line: a control byte from a comment or a reply shows as a blank.
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
  return text;
}

}  // namespace parlex2
