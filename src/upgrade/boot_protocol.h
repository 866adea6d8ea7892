// What the instrument's boot loader is sent and what it answers. Defined once
// here; the worker (upgrade_worker.cpp) is the only user on the program side.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace parlex2 {

// Sent alone, the byte makes the running firmware jump into its boot loader.
// The loader prints a banner and may send junk while it starts, so input is
// discarded for kWakeSettleBeforeMs before and kWakeSettleAfterMs after it.
inline constexpr char kBootWakeByte = 0x19;
inline constexpr std::uint32_t kWakeSettleBeforeMs = 1000;
inline constexpr std::uint32_t kWakeSettleAfterMs = 5000;

// Unlocks the loader; until it has been accepted every other command is
// refused.
inline constexpr std::string_view kBootAccessCode = "C7D2z\n";

// Selects the sector that the following erase and records go to. The index
// is the sector number; sectors 15 and above have no code, so the loader can
// never be pointed at them.
inline constexpr std::array<std::string_view, 15> kSectorCodeTable = {
    "C2D7y\n", "D7C2y\n", "7DC2y\n", "2C7Dy\n", "27CDy\n", "CD72y\n", "72DCy\n", "E9A3y\n",
    "9A3Ey\n", "A3E9y\n", "3E9Ay\n", "E3A9y\n", "9EA3y\n", "A9E3y\n", "39EAy\n"};

// Erases the selected sector. One letter with no line end: the loader acts on
// the byte itself.
inline constexpr std::string_view kEraseCommand = "x";

// Appended to every record line. The loader answers a record at the carriage
// return, so a record sent without it would never be answered.
inline constexpr std::string_view kRecordEnd = "\r\n";

// A record the loader refused is sent again, up to this many sends in all.
inline constexpr int kRecordSends = 4;

// "z" and a line feed arm the restart; the byte 0x15 then restarts the
// instrument into its new firmware. Both may be followed by junk while the
// instrument comes up, which is discarded for the times given.
inline constexpr std::string_view kRestartCommand = "z\n";
inline constexpr char kRestartByte = 0x15;
inline constexpr std::uint32_t kRestartSettleMs = 500;
inline constexpr std::uint32_t kRestartByteSettleMs = 1000;

// The loader's replies are read into this many bytes (127 characters).
inline constexpr std::size_t kBootReplySize = 128;

// The loader's success reply ends in "ok", in any case ("ok", "OK", "Ok"); a
// refusal never does.
bool IsOkReply(std::string_view reply);

// The access code of `sector`, or empty when the sector has none.
std::string_view SectorCode(int sector);

}  // namespace parlex2
