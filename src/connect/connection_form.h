// The logic behind the Connect dialog: what its controls hold, how that is
// read into the link and checked, the layout each interface choice asks for,
// the COM port scan, Test, Connect and "Save as Default". The Windows dialog
// only moves control contents in and out of a ConnectionForm and calls these.
//
// Everything runs on the UI thread inside the modal dialog.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/instrument_link.h"

namespace parlex2 {

class UserInterface;

// The interface list's entries; entry i is InterfaceKind i + 1.
inline constexpr const char* kInterfaceNames[] = {"USB", "LAN", "Serial"};
// The baud list's entries.
inline constexpr const char* kBaudRateTexts[] = {"1200", "2400", "4800", "9600", "19200", "38400"};

// What the dialog's controls hold. An unselected list is nullopt / -1.
struct ConnectionForm {
  int interfaceIndex = -1;              // list 113: 0 USB, 1 LAN, 2 Serial
  std::optional<std::string> comPort;   // list 114's selected text
  std::optional<std::string> baudText;  // list 115's selected text
  std::string ipText;                   // control 117's text; "0.0.0.0" when blank
};

// Which controls the chosen interface shows.
struct ConnectionFormLayout {
  bool showIpAddress;     // IP address control 117 and search button 1006
  bool showComPort;       // COM port list 114
  bool showBaudRate;      // baud list 115 and its label 119
  bool enableBaudRate;    // only Serial chooses a rate; USB runs at 19200
  const char* portLabel;  // label 118
};
ConnectionFormLayout LayoutForInterface(int interfaceIndex);

// The dialog's initial selections for the link's settings, given the COM
// ports found. A saved port or rate the lists do not hold stays unselected.
ConnectionForm FormFromSettings(const ConnectionSettings& settings,
                                const std::vector<std::string>& comPorts);

// The four fields of a dotted IPv4 address ("10.0.0.7"), as the address
// control takes them; nullopt for any other text, which leaves it blank.
using IpAddressFields = std::array<std::uint8_t, 4>;
std::optional<IpAddressFields> ParseIpAddress(std::string_view text);
// The address control's text: blank fields read as 0, so a blank control is
// "0.0.0.0".
std::string IpAddressText(const IpAddressFields& fields);

// The COM ports present, in the order the list shows them. Windows: COM1 to
// COM254 that open, or that exist but are in use. Elsewhere: the serial
// devices /dev/ttyS*, /dev/ttyUSB* and /dev/ttyACM* that exist.
std::vector<std::string> FindComPorts();

// Copies the form into `settings`. Unselected lists leave their field as it
// was; USB always runs at 19200; a blank IP address is stored empty.
void ReadDialogIntoLink(const ConnectionForm& form, ConnectionSettings& settings);

// Tells the user (caption "Test Connection") what is missing for the chosen
// interface. True when nothing is.
bool ValidateLink(UserInterface& ui, const ConnectionSettings& settings);

// Where the default connection is kept (the settings file's "Connect" section).
class ConnectionDefaults {
 public:
  virtual ~ConnectionDefaults() = default;
  // Reads the saved connection into `settings`; false when there is none.
  virtual bool Load(ConnectionSettings& settings) = 0;
  // Saves `settings`; false when they could not be written.
  virtual bool Save(const ConnectionSettings& settings) = 0;
};

// What "Save as Default" says when the settings file cannot be written.
inline constexpr char kSaveDefaultFailed[] =
    "The connection could not be saved as the default: the settings file cannot be written";

// The Test button: reads and checks the form, connects and identifies with the
// result shown, then closes the link. The tested settings stay in the link. A
// link left open by a failed Connect to another place is closed first.
void TestConnection(UserInterface& ui, const ConnectionForm& form, InstrumentLink& link);

// The Connect button: clears the previous identity, reads the form, checks it
// and connects. True when the instrument answered: the dialog ends. The link
// may stay open on failure; a later Connect to the same place goes straight
// on, one to another place closes it first.
bool ConnectFromForm(UserInterface& ui, const ConnectionForm& form, InstrumentLink& link);

// "Save as Default": reads the form into the link and saves its settings.
// False, after telling the user (caption "Parlex2"), when they could not be
// written: the next start would otherwise find no default and say nothing.
bool SaveAsDefault(UserInterface& ui, const ConnectionForm& form, InstrumentLink& link,
                   ConnectionDefaults& defaults);

}  // namespace parlex2
