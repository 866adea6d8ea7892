// The information panel's content: how the program is connected and what the
// connected instrument is, built from the link's settings and identity as a
// list of text spans. The Windows panel appends each span with its format;
// the command line prints them with RenderInfoPanelText.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/clock.h"
#include "script/run_record.h"

namespace parlex2 {

struct ConnectionSettings;
struct InstrumentInfo;

enum class SpanKind {
  Heading,  // bold
  Warning,  // bold, red (255, 40, 40)
  Plain,    // no format change
};

struct InfoSpan {
  SpanKind kind;
  std::string text;  // carries its own line feeds

  bool operator==(const InfoSpan&) const = default;
};

inline constexpr char kCalibrationWarning[] = "  >18 months since OVL Calibration  ";

// The whole panel for `settings` and `info` as of the local date `today`.
std::vector<InfoSpan> BuildInfoPanel(const ConnectionSettings& settings, const InstrumentInfo& info,
                                     const LocalTime& today);

struct CalendarDate {
  int year = 0;
  int month = 1;  // 1..12
  int day = 1;

  auto operator<=>(const CalendarDate&) const = default;
};

// 1..12 for a month name the instrument writes in its calibration dates
// ("MAR", "March", "sep"...), told apart by its first letters; 0 when the
// text names no month.
int MonthFromName(std::string_view name);

// The first day of the month 18 months after the maker's calibration dated
// `day`, `monthName`, `year` (day and year read as leading decimal digits).
// The warning shows from the day after it. A month name that names no month
// counts as January: the earliest the calibration can have been that year, so
// an unreadable date never delays the warning.
CalendarDate CalibrationDueDate(std::string_view day, std::string_view monthName,
                                std::string_view year);

// What a run's record names as the instrument: the fields the panel shows
// (model and serial number from the *IDN? reply, type and releases from the
// version? reply). Nothing when `info` identified no model.
std::optional<InstrumentIdentity> ReportIdentity(const InstrumentInfo& info);

// The panel as terminal text: headings and plain spans as they are, each
// warning through `markWarning` (for example red on a terminal).
std::string RenderInfoPanelText(const std::vector<InfoSpan>& spans,
                                std::string (*markWarning)(std::string_view) = nullptr);

}  // namespace parlex2
