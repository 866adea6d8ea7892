// The terminal's received-data poller: every timer message it reads what the
// instrument has sent, shows the complete lines in the results pane and counts
// the received characters for the script engine.
#pragma once

#include <cstddef>
#include <cstdint>

namespace parlex2 {

class InstrumentLink;
class ReceivedLineAssembler;
class ShellHost;
struct ShellState;

// No limit on the time one poll may take.
inline constexpr std::uint64_t kNoPollBudget = 0;

// Reads waiting bytes without blocking. The complete, non-empty lines are
// appended to the results pane in one append (binary values as text while
// convertBinary is on; a converted line is shown whole however long it grows),
// each followed by "\r\n" (and with time stamps on, each begins with the time
// it was complete); every line's received length is added to receivedCount,
// the last one is kept in lastReceivedLine, and every non-empty line goes to
// the comms log as received. A partial line stays in
// `lineBuffer` for the next call.
//
// With a `budgetMs`, reading stops once that long has passed (by the host's
// tick count), and with a `byteLimit` once that many bytes are read; the rest
// stays in the link for the next call. The pane's one append per call then
// stays bounded however fast the instrument sends.
// On a read error the main window is asked to disconnect (ID_DISCONNECT with
// mark 1), after the lines read before it are shown. Returns the bytes read.
std::size_t PollReceivedData(InstrumentLink& link, ReceivedLineAssembler& lineBuffer,
                             ShellState& state, ShellHost& host,
                             std::uint64_t budgetMs = kNoPollBudget, std::size_t byteLimit = 0);

}  // namespace parlex2
