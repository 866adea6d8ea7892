#include "app/info_panel.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

#include "common/text.h"
#include "connect/model_table.h"
#include "link/instrument_link.h"

namespace parlex2 {
namespace {

constexpr char kUnknown[] = "Unknown";

std::string FieldOr(const std::vector<std::string>& fields, std::size_t index) {
  return index < fields.size() ? fields[index] : std::string(kUnknown);
}

const char* InterfaceName(InterfaceKind kind) {
  const char* name = InterfaceKindName(kind);
  return name ? name : kUnknown;
}

bool LeapYear(std::int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int month, std::int64_t year) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && LeapYear(year)) return 29;
  return kDays[month - 1];
}

bool ThreeNonEmpty(const std::vector<std::string>& parts) {
  return parts.size() >= 3 && !parts[0].empty() && !parts[1].empty() && !parts[2].empty();
}

}  // namespace

int MonthFromName(std::string_view name) {
  auto at = [&](std::size_t i) {
    return i < name.size() ? static_cast<char>(std::toupper(static_cast<unsigned char>(name[i])))
                           : '\0';
  };
  switch (at(0)) {
    case 'F':
      return 2;
    case 'S':
      return 9;
    case 'O':
      return 10;
    case 'N':
      return 11;
    case 'D':
      return 12;
    case 'A':
      return at(1) == 'P' ? 4 : at(1) == 'U' ? 8 : 0;
    case 'M':
      return at(2) == 'Y' ? 5 : at(2) == 'R' ? 3 : 0;
    case 'J':
      if (at(1) == 'A') return 1;
      if (at(1) == 'U' && at(2) == 'N') return 6;
      if (at(1) == 'U' && at(2) == 'L') return 7;
      return 0;
    default:
      return 0;
  }
}

CalendarDate CalibrationDueDate(std::string_view day, std::string_view monthName,
                                std::string_view year) {
  int month = MonthFromName(monthName);
  if (month == 0) month = 1;
  // 64 bits: a year read from a hostile reply may be as large as int allows.
  std::int64_t dueYear = AtoI(year);
  if (AtoI(day) > DaysInMonth(month, dueYear)) ++month;
  month += 6;
  dueYear += 1;
  if (month > 12) {
    month -= 12;
    dueYear += 1;
  }
  CalendarDate due;
  due.year = static_cast<int>(std::min<std::int64_t>(dueYear, INT32_MAX));
  due.month = month;
  due.day = 1;
  return due;
}

std::vector<InfoSpan> BuildInfoPanel(const ConnectionSettings& settings, const InstrumentInfo& info,
                                     const LocalTime& today) {
  std::vector<InfoSpan> spans;
  auto heading = [&](std::string text) { spans.push_back({SpanKind::Heading, std::move(text)}); };
  auto plain = [&](std::string text) { spans.push_back({SpanKind::Plain, std::move(text)}); };
  auto warning = [&] {
    spans.push_back({SpanKind::Warning, std::string(kCalibrationWarning) + "\n"});
  };

  if (!info.connected) {
    plain("No connection");
    return spans;
  }
  if (info.modelNumber == kModelNotIdentified) {
    heading("Unknown Instrument\n");
    return spans;
  }
  if (info.modelNumber == kModelBootcode) {
    heading("Bootcode Only Instrument\n");
    return spans;
  }

  heading("Connection Info.\n\n");
  std::string text = std::string("  Interface:  ") + InterfaceName(settings.interfaceKind) + "\n";
  text += "  Address:  " +
          (settings.interfaceKind == InterfaceKind::Lan ? settings.ipAddress : settings.comPort) +
          "\n";
  if (settings.interfaceKind == InterfaceKind::Serial) {
    text += "  Baudrate:  " + std::to_string(settings.baudRate) + "\n";
  }
  plain(text);

  heading("\n\nInstrument Info. \n\n");
  const auto idn = SplitText(info.idnReply, ',');
  const auto version = SplitText(info.versionReply, ',');
  text = "  Model:  " + FieldOr(idn, 1) + "\n";
  text += "  Serial No:  " + FieldOr(idn, 2) + "\n";
  text += "  Type:  " + FieldOr(version, 1) + "\n";
  text += "  Main release:  " + FieldOr(version, 2) + "\n";
  text += "  FPGA release:  " + FieldOr(version, 3) + "\n";
  text += "  DSP release:  " + FieldOr(version, 4) + "\n";
  text += "  BOOT release:  " + FieldOr(version, 5) + "\n\n";
  plain(text);

  const bool checked = IsCalibrationCheckedModel(info.modelNumber);
  if (checked) {
    const auto local = SplitText(info.calverReply, '_');
    if (ThreeNonEmpty(local)) {
      plain("  Last local calibration:  \n    " + local[0] + " " + local[1] + " " + local[2] +
            "\n\n");
    }
  }

  const auto calstrFields = SplitText(info.calstrReply, ',');
  const auto maker =
      calstrFields.empty() ? std::vector<std::string>() : SplitText(calstrFields[0], '_');
  if (ThreeNonEmpty(maker)) {
    plain("  Last OVL calibration:  \n    " + maker[0] + " " + maker[1] + " " + maker[2] + "\n\n");
    if (checked) {
      const CalendarDate due = CalibrationDueDate(maker[0], maker[1], maker[2]);
      const CalendarDate now{today.year, today.month, today.day};
      if (now > due) warning();
    }
  } else if (!maker.empty() && maker[0].starts_with("default")) {
    text = "  Last OVL calibration:  \n    ";
    for (const auto& part : maker) text += part + " ";
    plain(text + "\n\n");
    warning();
  }
  return spans;
}

std::optional<InstrumentIdentity> ReportIdentity(const InstrumentInfo& info) {
  if (!info.connected || info.modelNumber == kModelNotIdentified ||
      info.modelNumber == kModelBootcode) {
    return std::nullopt;
  }
  const auto idn = SplitText(info.idnReply, ',');
  const auto version = SplitText(info.versionReply, ',');
  auto field = [](const std::vector<std::string>& fields, std::size_t index) {
    return index < fields.size() ? fields[index] : std::string();
  };
  InstrumentIdentity id;
  id.model = field(idn, 1);
  id.serialNumber = field(idn, 2);
  id.type = field(version, 1);
  id.mainRelease = field(version, 2);
  id.fpgaRelease = field(version, 3);
  id.dspRelease = field(version, 4);
  id.bootRelease = field(version, 5);
  return id;
}

std::string RenderInfoPanelText(const std::vector<InfoSpan>& spans,
                                std::string (*markWarning)(std::string_view)) {
  std::string out;
  for (const auto& span : spans) {
    if (span.kind == SpanKind::Warning && markWarning) {
      // Mark the text but keep its line feed outside the marking.
      std::string_view text = span.text;
      const bool lineEnd = !text.empty() && text.back() == '\n';
      if (lineEnd) text.remove_suffix(1);
      out += markWarning(text);
      if (lineEnd) out += '\n';
    } else {
      out += span.text;
    }
  }
  return out;
}

}  // namespace parlex2
