#include "app/info_panel.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "link/instrument_link.h"

namespace parlex2 {
namespace {

LocalTime Day(int year, int month, int day) { return {.year = year, .month = month, .day = day}; }

struct Panel {
  ConnectionSettings settings{InterfaceKind::Lan, "COM4", "192.168.1.20", 9600};
  InstrumentInfo info;

  Panel() {
    info.connected = true;
    info.modelNumber = 5;
    info.idnReply = "Maker,VXM66,4711,1.2";
    info.versionReply = "v,T9,5.2,3.1,2.0,1.1";
  }

  std::vector<InfoSpan> Build(LocalTime today = Day(2024, 1, 1)) const {
    return BuildInfoPanel(settings, info, today);
  }
  std::string Text(LocalTime today = Day(2024, 1, 1)) const {
    return RenderInfoPanelText(Build(today));
  }
  bool Warns(LocalTime today) const {
    return std::ranges::any_of(Build(today),
                               [](const InfoSpan& span) { return span.kind == SpanKind::Warning; });
  }
};

TEST(InfoPanel, ShortFormsForNoConnectionUnknownAndBootcode) {
  Panel panel;
  panel.info.connected = false;
  EXPECT_EQ(panel.Build(), (std::vector<InfoSpan>{{SpanKind::Plain, "No connection"}}));
  panel.info.connected = true;
  panel.info.modelNumber = 0;
  EXPECT_EQ(panel.Build(), (std::vector<InfoSpan>{{SpanKind::Heading, "Unknown Instrument\n"}}));
  panel.info.modelNumber = 9998;
  EXPECT_EQ(panel.Build(),
            (std::vector<InfoSpan>{{SpanKind::Heading, "Bootcode Only Instrument\n"}}));
}

TEST(InfoPanel, FullPanelWithBothCalibrationDatesAndTheirFormats) {
  Panel panel;
  panel.info.calstrReply = "12_MAR_2023,rest";
  panel.info.calverReply = "01_APR_2024";
  const auto spans = panel.Build(Day(2024, 9, 2));
  const std::vector<InfoSpan> expected = {
      {SpanKind::Heading, "Connection Info.\n\n"},
      {SpanKind::Plain, "  Interface:  LAN\n  Address:  192.168.1.20\n"},
      {SpanKind::Heading, "\n\nInstrument Info. \n\n"},
      {SpanKind::Plain,
       "  Model:  VXM66\n  Serial No:  4711\n  Type:  T9\n  Main release:  5.2\n"
       "  FPGA release:  3.1\n  DSP release:  2.0\n  BOOT release:  1.1\n\n"},
      {SpanKind::Plain, "  Last local calibration:  \n    01 APR 2024\n\n"},
      {SpanKind::Plain, "  Last OVL calibration:  \n    12 MAR 2023\n\n"},
      {SpanKind::Warning, "  >18 months since OVL Calibration  \n"},
  };
  EXPECT_EQ(spans, expected);
}

TEST(InfoPanel, WarningStartsTheDayAfterTheDueDate) {
  Panel panel;
  panel.info.calstrReply = "12_MAR_2023";
  EXPECT_FALSE(panel.Warns(Day(2024, 9, 1)));
  EXPECT_TRUE(panel.Warns(Day(2024, 9, 2)));
  EXPECT_FALSE(panel.Warns(Day(2024, 8, 31)));
  EXPECT_TRUE(panel.Warns(Day(2025, 1, 1)));

  // Not a calibration-checked model: the date shows, the warning does not.
  panel.info.modelNumber = 7;
  EXPECT_FALSE(panel.Warns(Day(2030, 1, 1)));
  EXPECT_NE(panel.Text(Day(2030, 1, 1)).find("    12 MAR 2023\n"), std::string::npos);
  // Nor does the local calibration.
  panel.info.calverReply = "01_APR_2024";
  EXPECT_EQ(panel.Text().find("local"), std::string::npos);
}

TEST(InfoPanel, SerialShowsPortAndBaudRateUsbOnlyThePort) {
  Panel panel;
  panel.settings.interfaceKind = InterfaceKind::Serial;
  EXPECT_NE(panel.Text().find("  Interface:  Serial\n  Address:  COM4\n  Baudrate:  9600\n"),
            std::string::npos);
  panel.settings.interfaceKind = InterfaceKind::Usb;
  const std::string usb = panel.Text();
  EXPECT_NE(usb.find("  Interface:  USB\n  Address:  COM4\n"), std::string::npos);
  EXPECT_EQ(usb.find("Baudrate"), std::string::npos);
}

TEST(InfoPanel, MissingFieldsShowUnknown) {
  Panel panel;
  panel.info.idnReply = "Maker";
  panel.info.versionReply = "v,T1,5.0,3.0";
  const std::string text = panel.Text();
  EXPECT_NE(text.find("  Model:  Unknown\n  Serial No:  Unknown\n  Type:  T1\n"
                      "  Main release:  5.0\n  FPGA release:  3.0\n  DSP release:  Unknown\n"
                      "  BOOT release:  Unknown\n"),
            std::string::npos)
      << text;
}

TEST(InfoPanel, ReportIdentityHoldsThePanelsFieldsOfAnIdentifiedModel) {
  auto fields = [](const InstrumentIdentity& id) {
    return id.model + "|" + id.serialNumber + "|" + id.type + "|" + id.mainRelease + "|" +
           id.fpgaRelease + "|" + id.dspRelease + "|" + id.bootRelease;
  };
  Panel panel;
  std::optional<InstrumentIdentity> id = ReportIdentity(panel.info);
  ASSERT_TRUE(id);
  EXPECT_EQ(fields(*id), "VXM66|4711|T9|5.2|3.1|2.0|1.1");
  panel.info.idnReply = "Maker";
  panel.info.versionReply = "v,T1";
  id = ReportIdentity(panel.info);
  ASSERT_TRUE(id);
  EXPECT_EQ(fields(*id), "||T1||||");  // not "Unknown"
  for (std::int32_t model : {0, 9998}) {
    panel.info.modelNumber = model;
    EXPECT_FALSE(ReportIdentity(panel.info)) << model;
  }
  panel.info.modelNumber = 5;
  panel.info.connected = false;
  EXPECT_FALSE(ReportIdentity(panel.info));
}

TEST(InfoPanel, IncompleteCalibrationDatesShowNothing) {
  Panel panel;
  panel.info.calverReply = "";
  panel.info.calstrReply = "12__2023,x";
  EXPECT_EQ(panel.Text().find("calibration"), std::string::npos);
  panel.info.calverReply = "01_APR";
  panel.info.calstrReply = "12_MAR";
  EXPECT_EQ(panel.Text().find("calibration"), std::string::npos);
}

TEST(InfoPanel, DefaultCalibrationWarnsForAnyModel) {
  Panel panel;
  panel.info.modelNumber = 12;
  panel.info.calstrReply = "default_calibration,1";
  const auto spans = panel.Build();
  ASSERT_GE(spans.size(), 2u);
  EXPECT_EQ(spans[spans.size() - 2],
            (InfoSpan{SpanKind::Plain, "  Last OVL calibration:  \n    default calibration \n\n"}));
  EXPECT_EQ(spans.back(), (InfoSpan{SpanKind::Warning, "  >18 months since OVL Calibration  \n"}));
}

TEST(CalibrationDueDate, EighteenMonthsOnTheFirstOfTheMonth) {
  struct Case {
    const char *day, *month, *year;
    CalendarDate due;
  };
  const Case cases[] = {
      {"12", "MAR", "2023", {2024, 9, 1}},
      {"01", "JUL", "2023", {2025, 1, 1}},
      {"31", "DEC", "2023", {2025, 6, 1}},   // day 31 fits December
      {"31", "APR", "2023", {2024, 11, 1}},  // no 31 April: counts from May
      {"29", "FEB", "2024", {2025, 8, 1}},   // leap year
      {"29", "FEB", "2023", {2024, 9, 1}},
      {"29", "FEB", "1900", {1901, 9, 1}},  // divisible by 100: not leap
      {"29", "FEB", "2000", {2001, 8, 1}},  // divisible by 400: leap
      {"5", "august", "2022", {2024, 2, 1}},
      {"5", "June", "2022", {2023, 12, 1}},
      {"xx", "MAY", "2022", {2023, 11, 1}},  // no digits: day 0
      {"15", "???", "2023", {2024, 7, 1}},   // unrecognised month: January
      {"15", "", "2023", {2024, 7, 1}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CalibrationDueDate(c.day, c.month, c.year), c.due)
        << c.day << " " << c.month << " " << c.year;
  }
}

TEST(CalibrationDueDate, MonthNamesByTheirFirstThreeLettersAnyCase) {
  const char* names[] = {"jan", "FEB", "MAR", "APR", "MAY", "JUN",
                         "JUL", "AUG", "SEP", "OCT", "NOV", "dec"};
  for (int i = 0; i < 12; ++i) EXPECT_EQ(MonthFromName(names[i]), i + 1) << names[i];
  for (const char* bad : {"XYZ", "MA", "JUX"}) EXPECT_EQ(MonthFromName(bad), 0) << bad;
}

}  // namespace
}  // namespace parlex2
