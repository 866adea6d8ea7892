// The identity of an instrument as JSON, for scripts that should not read
// the information panel's text: `identify --json`, `find --json`, and what a
// child tells the parent in the many-instrument mode.
#pragma once

#include <nlohmann/json.hpp>
#include <vector>

#include "common/clock.h"
#include "connect/lan_search.h"
#include "link/discovery.h"

namespace parlex2 {
struct ConnectionSettings;
struct InstrumentInfo;
}  // namespace parlex2

namespace parlex2::cli {

// An instrument's reply may hold bytes that are no UTF-8: shown replaced
// when the JSON is written out.
inline constexpr auto kReplaceBadBytes = nlohmann::json::error_handler_t::replace;

// {"interface", "address", "baudRate" (serial only), "connected", "identified",
//  "bootcode", "model", "serialNumber", "type", "releases": {"main", "fpga",
//  "dsp", "boot"}, "lastLocalCalibration", "lastMakerCalibration",
//  "calibrationWarning", "replies": {"idn", "calstr", "calver", "version"}}.
// A field the instrument did not give is null; the calibration warning is
// the panel's own.
nlohmann::json IdentityJson(const ConnectionSettings& settings, const InstrumentInfo& info,
                            const LocalTime& today);

// [{"address", "identity" (the *IDN? reply, or null), "probe" ("ok" or the
// probe's "Connection Failed n")}], one per probed entry.
nlohmann::json FoundJson(const std::vector<FoundInstrument>& found,
                         const std::vector<ProbeRow>& rows);

// In a child of the many-instrument mode: tells the parent who the
// instrument is ("identity" and the object above). Nothing otherwise.
void ReportIdentityToParent(const ConnectionSettings& settings, const InstrumentInfo& info);

}  // namespace parlex2::cli
