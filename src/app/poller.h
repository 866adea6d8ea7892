// The terminal's received-data poller: every timer message it reads what the
// instrument has sent, shows each complete line in the results pane and counts
// the received characters for the script engine.
#pragma once

namespace parlex2 {

class InstrumentLink;
class ReceivedLineAssembler;
class ShellHost;
struct ShellState;

// Reads every waiting byte without blocking. Each complete, non-empty line is
// appended to the results pane (binary values as text while convertBinary is
// on; a converted line is shown whole however long it grows) followed by
// "\r\n"; every line's received length is added to receivedCount. A partial
// line stays in `lineBuffer` for the next call. On a read error the main window
// is asked to disconnect (ID_DISCONNECT with mark 1).
void PollReceivedData(InstrumentLink& link, ReceivedLineAssembler& lineBuffer, ShellState& state,
                      ShellHost& host);

}  // namespace parlex2
