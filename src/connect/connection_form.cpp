#include "connect/connection_form.h"

#include <algorithm>
#include <iterator>

#include "common/product.h"
#include "common/text.h"
#include "common/ui.h"
#include "connect/identify.h"

namespace parlex2 {
namespace {

constexpr char kCaption[] = "Test Connection";
constexpr char kBlankIpAddress[] = "0.0.0.0";
constexpr std::size_t kIpTextReadMax = 127;

}  // namespace

ConnectionFormLayout LayoutForInterface(int interfaceIndex) {
  const auto kind = static_cast<InterfaceKind>(interfaceIndex + 1);
  if (kind == InterfaceKind::Lan) return {true, false, false, false, "IP Address:"};
  return {false, true, true, kind == InterfaceKind::Serial, "COM Port:"};
}

ConnectionForm FormFromSettings(const ConnectionSettings& settings,
                                const std::vector<std::string>& comPorts) {
  ConnectionForm form;
  const int kind = static_cast<int>(settings.interfaceKind);
  if (kind > 0 && kind <= static_cast<int>(std::size(kInterfaceNames))) {
    form.interfaceIndex = kind - 1;
  }
  for (const auto& port : comPorts) {
    if (!settings.comPort.empty() && port == settings.comPort) form.comPort = port;
  }
  if (settings.baudRate != 0) {
    const std::string rate = std::to_string(settings.baudRate);
    for (const char* text : kBaudRateTexts) {
      if (rate == text) form.baudText = rate;
    }
  }
  form.ipText = settings.ipAddress.empty() ? kBlankIpAddress : settings.ipAddress;
  return form;
}

std::optional<IpAddressFields> ParseIpAddress(std::string_view text) {
  IpAddressFields fields{};
  std::size_t pos = 0;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) {
      if (pos >= text.size() || text[pos] != '.') return std::nullopt;
      ++pos;
    }
    int value = 0;
    std::size_t digits = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 4) {
      value = value * 10 + (text[pos] - '0');
      ++pos;
      ++digits;
    }
    if (digits == 0 || digits > 3 || value > 255) return std::nullopt;
    fields[i] = static_cast<std::uint8_t>(value);
  }
  if (pos != text.size()) return std::nullopt;
  return fields;
}

std::string IpAddressText(const IpAddressFields& fields) {
  std::string text;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) text += '.';
    text += std::to_string(fields[i]);
  }
  return text;
}

void ReadDialogIntoLink(const ConnectionForm& form, ConnectionSettings& settings) {
  if (form.interfaceIndex >= 0 &&
      form.interfaceIndex < static_cast<int>(std::size(kInterfaceNames))) {
    settings.interfaceKind = static_cast<InterfaceKind>(form.interfaceIndex + 1);
  }
  if (form.comPort) settings.comPort = Truncated(*form.comPort, kComPortNameLimit);
  if (form.baudText)
    settings.baudRate = static_cast<std::uint32_t>(std::max(0, AtoI(*form.baudText)));
  settings.baudRate = settings.LineBaudRate();  // shown and saved as the line runs
  const std::string ip = Truncated(form.ipText, kIpTextReadMax);
  settings.ipAddress = ip == kBlankIpAddress ? std::string() : Truncated(ip, kIpAddressMax);
}

bool ValidateLink(UserInterface& ui, const ConnectionSettings& settings) {
  const char* problem = nullptr;
  switch (settings.interfaceKind) {
    case InterfaceKind::Lan:
      if (settings.ipAddress.empty()) problem = "Please enter an IP address";
      break;
    case InterfaceKind::Usb:
    case InterfaceKind::Serial:
      if (settings.comPort.empty()) {
        problem = "Please select a COM Port";
      } else if (settings.baudRate == 0) {
        problem = "Please choose a baudrate";
      }
      break;
    default:
      break;
  }
  if (!problem) return true;
  ui.ShowMessage(problem, kCaption, MessageIcon::Information, MessageButtons::Ok);
  return false;
}

namespace {

// A link left open by an earlier attempt in the dialog goes straight on only
// when the form still names the same place; otherwise the instrument asked
// would not be the one chosen.
void CloseIfElsewhere(InstrumentLink& link) {
  if (link.portOpen() && !link.OpenTo(link.settings)) link.Close();
}

}  // namespace

void TestConnection(UserInterface& ui, const ConnectionForm& form, InstrumentLink& link) {
  ReadDialogIntoLink(form, link.settings);
  if (!ValidateLink(ui, link.settings)) return;
  CloseIfElsewhere(link);
  ConnectAndIdentify(ui, link, true);
  link.Close();
}

bool ConnectFromForm(UserInterface& ui, const ConnectionForm& form, InstrumentLink& link) {
  link.info.connected = false;
  link.info.modelNumber = 0;
  link.info.modelVariant = 0;
  ReadDialogIntoLink(form, link.settings);
  if (link.settings.interfaceKind != InterfaceKind::None && !ValidateLink(ui, link.settings)) {
    return false;
  }
  CloseIfElsewhere(link);
  link.info.connected = ConnectAndIdentify(ui, link, true);
  return link.info.connected;
}

bool SaveAsDefault(UserInterface& ui, const ConnectionForm& form, InstrumentLink& link,
                   ConnectionDefaults& defaults) {
  ReadDialogIntoLink(form, link.settings);
  if (defaults.Save(link.settings)) return true;
  ui.ShowMessage(kSaveDefaultFailed, kProductName, MessageIcon::Warning, MessageButtons::Ok);
  return false;
}

}  // namespace parlex2
