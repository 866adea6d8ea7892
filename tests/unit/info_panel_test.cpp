#include "app/info_panel.h"

#include <gtest/gtest.h>

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
  std::string Text() const { return RenderInfoPanelText(Build()); }
};

// The lines below the releases: the maker's date warns from the day after its
// due date, for calibration-checked models only (as the local date shows);
// an incomplete date shows nothing; the default calibration warns for any
// model.
TEST(InfoPanel, CalibrationLinesAndTheWarning) {
  const std::string ovl = "  Last OVL calibration:  \n    12 MAR 2023\n\n";
  const std::string warning = "!  >18 months since OVL Calibration  \n";
  struct Case {
    std::int32_t model;
    const char *calstr, *calver;
    LocalTime today;
    std::string shown;
  };
  const Case cases[] = {
      {5, "12_MAR_2023", "", Day(2024, 9, 1), ovl},
      {5, "12_MAR_2023", "", Day(2024, 9, 2), ovl + warning},
      {5, "12_MAR_2023", "", Day(2024, 8, 31), ovl},
      {5, "12_MAR_2023", "", Day(2025, 1, 1), ovl + warning},
      {7, "12_MAR_2023", "01_APR_2024", Day(2030, 1, 1), ovl},
      {5, "12__2023,x", "", Day(2024, 1, 1), ""},
      {5, "12_MAR", "01_APR", Day(2024, 1, 1), ""},
      {12, "default_calibration,1", "", Day(2024, 1, 1),
       "  Last OVL calibration:  \n    default calibration \n\n" + warning},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.model << " " << c.calstr << " " << c.today.year << "-"
                                      << c.today.month << "-" << c.today.day);
    Panel panel;
    panel.info.modelNumber = c.model;
    panel.info.calstrReply = c.calstr;
    panel.info.calverReply = c.calver;
    const std::string text = RenderInfoPanelText(
        panel.Build(c.today), [](std::string_view w) { return std::string("!").append(w); });
    const std::string releases = "  BOOT release:  1.1\n\n";
    EXPECT_EQ(text.substr(text.find(releases) + releases.size()), c.shown);
  }
}

TEST(InfoPanel, SerialShowsPortAndBaudRateUsbOnlyThePortAndMissingFieldsShowUnknown) {
  Panel panel;
  panel.settings.interfaceKind = InterfaceKind::Serial;
  EXPECT_NE(panel.Text().find("  Interface:  Serial\n  Address:  COM4\n  Baudrate:  9600\n"),
            std::string::npos);
  panel.settings.interfaceKind = InterfaceKind::Usb;
  const std::string usb = panel.Text();
  EXPECT_NE(usb.find("  Interface:  USB\n  Address:  COM4\n"), std::string::npos);
  EXPECT_EQ(usb.find("Baudrate"), std::string::npos);

  // Fields the replies lack show "Unknown".
  panel.info.idnReply = "Maker";
  panel.info.versionReply = "v,T1,5.0,3.0";
  const std::string text = panel.Text();
  EXPECT_NE(text.find("  Model:  Unknown\n  Serial No:  Unknown\n  Type:  T1\n"
                      "  Main release:  5.0\n  FPGA release:  3.0\n  DSP release:  Unknown\n"
                      "  BOOT release:  Unknown\n"),
            std::string::npos)
      << text;
}

TEST(InfoPanel, AnIdentifiedModelsSpansAndReportIdentityAndAnUnidentifiedOnesPanel) {
  // The spans the window formats: headings bold, the warning red. (The whole
  // text of such a panel: IdentifySim.CommandLineIdentifyPrintsThePanelAndTheResultOnly.)
  Panel panel;
  panel.info.calstrReply = "12_MAR_2023,rest";
  panel.info.calverReply = "01_APR_2024";
  std::vector<SpanKind> kinds;
  for (const InfoSpan& span : panel.Build(Day(2024, 9, 2))) kinds.push_back(span.kind);
  EXPECT_EQ(kinds, (std::vector<SpanKind>{SpanKind::Heading, SpanKind::Plain, SpanKind::Heading,
                                          SpanKind::Plain, SpanKind::Plain, SpanKind::Plain,
                                          SpanKind::Warning}));

  auto fields = [](const InstrumentIdentity& id) {
    return id.model + "|" + id.serialNumber + "|" + id.type + "|" + id.mainRelease + "|" +
           id.fpgaRelease + "|" + id.dspRelease + "|" + id.bootRelease;
  };
  std::optional<InstrumentIdentity> id = ReportIdentity(panel.info);
  ASSERT_TRUE(id);
  EXPECT_EQ(fields(*id), "VXM66|4711|T9|5.2|3.1|2.0|1.1");
  panel.info.idnReply = "Maker";
  panel.info.versionReply = "v,T1";
  id = ReportIdentity(panel.info);
  ASSERT_TRUE(id);
  EXPECT_EQ(fields(*id), "||T1||||");  // not "Unknown"
  // An unknown or bootcode-only instrument has no identity, and its panel is
  // one heading. (Not connected: ShellConnect's tests see "No connection".)
  const std::pair<std::int32_t, const char*> shortForms[] = {{0, "Unknown Instrument\n"},
                                                             {9998, "Bootcode Only Instrument\n"}};
  for (const auto& [model, heading] : shortForms) {
    panel.info.modelNumber = model;
    EXPECT_FALSE(ReportIdentity(panel.info)) << model;
    EXPECT_EQ(panel.Build(), (std::vector<InfoSpan>{{SpanKind::Heading, heading}}));
  }
  panel.info.modelNumber = 5;
  panel.info.connected = false;
  EXPECT_FALSE(ReportIdentity(panel.info));
}

TEST(CalibrationDueDate, EighteenMonthsOnTheFirstOfTheMonthNamedByItsFirstThreeLetters) {
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
      {"xx", "MAY", "2022", {2023, 11, 1}},  // no digits: day 0
      {"15", "???", "2023", {2024, 7, 1}},   // unrecognised month: January
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CalibrationDueDate(c.day, c.month, c.year), c.due)
        << c.day << " " << c.month << " " << c.year;
  }

  // Month names by their first three letters, in any case.
  const char* names[] = {"jan", "FEB", "MAR", "APR", "MAY", "JUN",
                         "JUL", "AUG", "SEP", "OCT", "NOV", "dec"};
  for (int i = 0; i < 12; ++i) EXPECT_EQ(MonthFromName(names[i]), i + 1) << names[i];
  for (const char* bad : {"XYZ", "MA", "JUX"}) EXPECT_EQ(MonthFromName(bad), 0) << bad;
}

}  // namespace
}  // namespace parlex2
