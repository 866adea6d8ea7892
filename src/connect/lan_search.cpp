#include "connect/lan_search.h"

#include <cstring>

#include "common/text.h"
#include "common/ui.h"
#include "connect/identify.h"
#include "link/lan.h"

namespace parlex2 {
namespace {

constexpr unsigned kProbeReadTimeoutMs = 500;
constexpr std::size_t kProbeReplyBufferSize = 128;

}  // namespace

ProbeResult ProbeFoundInstruments(UserInterface& ui, std::vector<FoundInstrument>& found,
                                  const InstrumentLink::TransportFactory& factory) {
  ProbeResult result;
  ScopedWaitCursor wait(ui);
  InstrumentLink probe;
  if (factory) probe.SetTransportFactory(factory);
  probe.settings.interfaceKind = InterfaceKind::Lan;
  probe.SetReadTimeout(kProbeReadTimeoutMs);  // the probe's own: other links keep theirs

  for (std::size_t index = 0; index < found.size() && index < kFoundListCapacity; ++index) {
    FoundInstrument& entry = found[index];
    if (entry.address.empty()) break;
    probe.settings.ipAddress = Truncated(entry.address, kIpAddressMax);
    std::string text;
    if (probe.Open() != 0) {
      text = "Connection Failed 1";
    } else {
      char buffer[kProbeReplyBufferSize];
      probe.Send(kIdnCommand);
      const int length = probe.ReadLine(buffer, sizeof buffer);
      const std::string reply(UntilNul(std::string_view(buffer, sizeof buffer)));
      if (length < 1) {
        text = "Connection Failed 2";
      } else if (reply.find(',') != std::string::npos) {
        entry.description = Truncated(reply, kFoundDescriptionMax);
        text = reply;
      } else if (!reply.empty()) {
        text = "Connection Failed 3";
      }
      probe.Close();
    }
    if (!text.empty()) result.rows.push_back({index, entry.address + "\t" + text});
  }
  result.selectFirst = result.rows.size() == 1;
  return result;
}

std::optional<std::string> SearchLan(UserInterface& ui, const InstrumentChooser& choose,
                                     const InstrumentFinder& find) {
  ScopedWaitCursor wait(ui);
  std::vector<FoundInstrument> found;
  const int count = find ? find(found) : LanFindInstruments(found, kFoundListCapacity);
  if (count <= 0 || found.empty()) {
    ui.ShowMessage("No Instruments found on this subnet", "LAN Find Instrument",
                   MessageIcon::Information, MessageButtons::Ok);
    return std::nullopt;
  }
  const auto chosen = choose(found);
  if (!chosen || *chosen >= found.size()) return std::nullopt;
  return found[*chosen].address;
}

}  // namespace parlex2
