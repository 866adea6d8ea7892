// Connect and identify: opens the link, wakes the instrument, asks who it is
// and, for an instrument the model table knows, reads its calibration and
// version replies into the link's InstrumentInfo.
//
// Runs on the UI thread (or the command line's main thread) and blocks it for
// the whole exchange, up to about 2.5 s of *IDN? attempts plus the identity
// replies at the link's normal read time-out.
#pragma once

#include <string>
#include <string_view>

namespace parlex2 {

class InstrumentLink;
struct ConnectionSettings;
class UserInterface;

// The commands of identification, in the order they go out. Each command
// ends with one line feed; the instrument expects no carriage return.
inline constexpr std::string_view kEscapeCommand = "^[";  // leaves any pending mode; no line end
inline constexpr std::string_view kIdnCommand = "*IDN?\n";
inline constexpr std::string_view kCalstrCommand = "calstr?\n";
inline constexpr std::string_view kCalverCommand = "calver?\n";
inline constexpr std::string_view kVersionCommand = "version?\n";

inline constexpr int kIdnAttempts = 5;
inline constexpr unsigned kIdentifyReadTimeoutMs = 500;

// An instrument running only its boot code answers *IDN? with a line of
// register dumps instead of the comma-separated identity: no comma, and
// ":    32 32 32 32" from the eighth character on.
bool HasBootcodeSignature(std::string_view reply);

// What the user is told when the link cannot be opened: "Failed to connect to
// IP address %s" for the LAN, "Unable to open port %s" otherwise.
std::string OpenFailureMessage(const ConnectionSettings& settings);

// Opens `link` and identifies the instrument on it. True when the instrument
// answered *IDN? (identified or not). Failing to open is always reported
// through `ui` ("Test Connection"); with `showResult` the outcome is too. The
// link stays open whatever the result; the caller stores the result in
// `link.info.connected`. An interface kind of None returns false at once with
// nothing sent, logged or shown.
bool ConnectAndIdentify(UserInterface& ui, InstrumentLink& link, bool showResult);

}  // namespace parlex2
