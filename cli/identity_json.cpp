#include "cli/identity_json.h"

#include <algorithm>

#include "app/info_panel.h"
#include "cli/child_process.h"
#include "common/text.h"
#include "connect/model_table.h"
#include "link/instrument_link.h"

namespace parlex2::cli {
namespace {

nlohmann::json FieldOrNull(const std::vector<std::string>& fields, std::size_t index) {
  if (index >= fields.size() || fields[index].empty()) return nullptr;
  return fields[index];
}

nlohmann::json TextOrNull(const std::string& text) {
  return text.empty() ? nlohmann::json(nullptr) : nlohmann::json(text);
}

// "day month year" from a date written with underscores, null unless all
// three parts are there.
nlohmann::json CalibrationDate(const std::string& text) {
  const auto parts = SplitText(text, '_');
  if (parts.size() < 3 || parts[0].empty() || parts[1].empty() || parts[2].empty()) return nullptr;
  return parts[0] + " " + parts[1] + " " + parts[2];
}

}  // namespace

nlohmann::json IdentityJson(const ConnectionSettings& settings, const InstrumentInfo& info,
                            const LocalTime& today) {
  nlohmann::json json;
  const char* interfaceName = InterfaceKindName(settings.interfaceKind);
  json["interface"] = interfaceName ? nlohmann::json(interfaceName) : nlohmann::json(nullptr);
  json["address"] = settings.interfaceKind == InterfaceKind::Lan ? settings.ipAddress
                                                                 : settings.comPort;
  if (settings.interfaceKind == InterfaceKind::Serial) json["baudRate"] = settings.baudRate;
  json["connected"] = info.connected;
  const bool identified = info.connected && info.modelNumber != kModelNotIdentified &&
                          info.modelNumber != kModelBootcode;
  json["identified"] = identified;
  json["bootcode"] = info.connected && info.modelNumber == kModelBootcode;
  const auto idn = identified ? SplitText(info.idnReply, ',') : std::vector<std::string>();
  const auto version = identified ? SplitText(info.versionReply, ',') : std::vector<std::string>();
  json["model"] = FieldOrNull(idn, 1);
  json["serialNumber"] = FieldOrNull(idn, 2);
  json["type"] = FieldOrNull(version, 1);
  json["releases"] = {{"main", FieldOrNull(version, 2)},
                      {"fpga", FieldOrNull(version, 3)},
                      {"dsp", FieldOrNull(version, 4)},
                      {"boot", FieldOrNull(version, 5)}};
  const auto calstr = SplitText(info.calstrReply, ',');
  json["lastLocalCalibration"] = identified ? CalibrationDate(info.calverReply) : nullptr;
  json["lastOvlCalibration"] =
      identified && !calstr.empty() ? CalibrationDate(calstr[0]) : nlohmann::json(nullptr);
  // The warning exactly when the panel shows it.
  const auto spans = BuildInfoPanel(settings, info, today);
  json["calibrationWarning"] = std::any_of(spans.begin(), spans.end(), [](const InfoSpan& span) {
    return span.kind == SpanKind::Warning;
  });
  json["replies"] = {{"idn", TextOrNull(info.idnReply)},
                     {"calstr", TextOrNull(info.calstrReply)},
                     {"calver", TextOrNull(info.calverReply)},
                     {"version", TextOrNull(info.versionReply)}};
  return json;
}

nlohmann::json FoundJson(const std::vector<FoundInstrument>& found,
                         const std::vector<ProbeRow>& rows) {
  nlohmann::json list = nlohmann::json::array();
  for (const ProbeRow& row : rows) {
    if (row.entryIndex >= found.size()) continue;
    const FoundInstrument& entry = found[row.entryIndex];
    const std::size_t tab = row.text.find('\t');
    const std::string result = tab == std::string::npos ? row.text : row.text.substr(tab + 1);
    const bool answered = !entry.description.empty();
    list.push_back({{"address", entry.address},
                    {"identity", TextOrNull(entry.description)},
                    {"probe", answered ? std::string("ok") : result}});
  }
  return list;
}

void ReportIdentityToParent(const ConnectionSettings& settings, const InstrumentInfo& info) {
  if (!StatusChannelOpen()) return;
  SendStatus("identity", IdentityJson(settings, info, GetClock().Now())
                             .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

}  // namespace parlex2::cli
