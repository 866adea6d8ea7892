// Identification against an instrument whose every answer comes from the
// input, then the information panel built from what was stored.
//
// Properties: the stored replies keep their fixed lengths; the model number
// agrees with the stored identity (empty when not identified, the boot code's
// signature for a boot code instrument, a model-table match otherwise); no
// more *IDN? attempts than allowed; the panel's text is its spans in order,
// with at most one calibration warning and only for a model that is checked.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <memory>
#include <string>

#include "app/info_panel.h"
#include "common/text.h"
#include "connect/identify.h"
#include "connect/model_table.h"
#include "fuzz_check.h"
#include "link/instrument_link.h"
#include "support/fake_clock.h"
#include "support/memory_transport.h"
#include "support/recording_ui.h"
#include "support/text_checks.h"

using namespace parlex2;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  parlex2::testing::FakeClock clock;
  parlex2::testing::RecordingUi ui;
  auto peer = std::make_shared<parlex2::testing::MemoryPeer>();
  InstrumentLink link;
  parlex2::testing::UseMemoryPeer(link, peer);
  link.settings.interfaceKind = input.ConsumeBool() ? InterfaceKind::Lan : InterfaceKind::Usb;
  link.settings.ipAddress = "127.0.0.1";
  link.settings.comPort = "COM3";
  link.settings.baudRate = 19200;
  // Every write may be answered with the next piece of the input; a final
  // flag breaks the link once the input is used up.
  peer->respond = [&input](parlex2::testing::MemoryPeer& p, const std::string&) {
    if (input.remaining_bytes() == 0) return;
    p.Queue(input.ConsumeRandomLengthString(400));
    if (input.ConsumeProbability<float>() < 0.02f) p.broken = true;
  };

  const bool answered = ConnectAndIdentify(ui, link, true);
  link.info.connected = answered;
  const InstrumentInfo& info = link.info;

  FUZZ_CHECK(info.idnReply.size() <= 127);
  FUZZ_CHECK(info.calstrReply.size() <= 255);
  FUZZ_CHECK(info.calverReply.size() <= 255);
  FUZZ_CHECK(info.versionReply.size() <= 127);
  FUZZ_CHECK(parlex2::testing::Occurrences(peer->written, kIdnCommand) <=
             static_cast<std::size_t>(kIdnAttempts));
  FUZZ_CHECK(ui.messages.size() == 1);
  FUZZ_CHECK(ui.waitDepth == 0);
  if (!answered) {
    FUZZ_CHECK(ui.messages[0].text == "The connection failed");
  } else if (info.modelNumber == kModelNotIdentified) {
    FUZZ_CHECK(info.idnReply.empty());
  } else if (info.modelNumber == kModelBootcode) {
    FUZZ_CHECK(HasBootcodeSignature(info.idnReply));
  } else if (info.idnReply.size() < 127) {
    // (A reply cut to its stored 127 characters may hold the model field
    // beyond the cut; it was classified whole.)
    const auto comma = info.idnReply.find(',');
    FUZZ_CHECK(comma != std::string::npos);
    FUZZ_CHECK(LookupModel(std::string_view(info.idnReply).substr(comma + 1)) == info.modelNumber);
  }

  LocalTime today{};
  today.year = input.ConsumeIntegralInRange(1990, 2100);
  today.month = input.ConsumeIntegralInRange(1, 12);
  today.day = input.ConsumeIntegralInRange(1, 31);
  const std::vector<InfoSpan> spans = BuildInfoPanel(link.settings, info, today);
  FUZZ_CHECK(!spans.empty());
  const auto mark = [](std::string_view text) { return "<" + std::string(text) + ">"; };
  std::string plain;
  std::string marked;
  int warnings = 0;
  for (const InfoSpan& span : spans) {
    FUZZ_CHECK(!span.text.empty());
    plain += span.text;
    if (span.kind == SpanKind::Warning && span.text.ends_with('\n')) {
      marked += mark(std::string_view(span.text).substr(0, span.text.size() - 1)) + "\n";
    } else {
      marked += span.kind == SpanKind::Warning ? mark(span.text) : span.text;
    }
    warnings += span.kind == SpanKind::Warning;
  }
  FUZZ_CHECK(RenderInfoPanelText(spans) == plain);
  FUZZ_CHECK(RenderInfoPanelText(spans, mark) == marked);
  FUZZ_CHECK(warnings <= 1);
  if (warnings)
    FUZZ_CHECK(answered && IsCalibrationCheckedModel(info.modelNumber) ||
               info.calstrReply.starts_with("default"));

  // A calibration date read from any text gives a real month and never an
  // earlier year than it names.
  const std::string day = input.ConsumeRandomLengthString(8);
  const std::string month = input.ConsumeRandomLengthString(12);
  const std::string year = input.ConsumeRandomLengthString(12);
  const CalendarDate due = CalibrationDueDate(day, month, year);
  FUZZ_CHECK(due.month >= 1 && due.month <= 12 && due.day == 1);
  FUZZ_CHECK(static_cast<std::int64_t>(due.year) >=
             std::min<std::int64_t>(AtoI(year), INT32_MAX - 2));
  const int monthNumber = MonthFromName(month);
  FUZZ_CHECK(monthNumber >= 0 && monthNumber <= 12);
  return 0;
}
