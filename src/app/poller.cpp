#include "app/poller.h"

#include <climits>
#include <string>

#include "app/terminal.h"
#include "common/clock.h"
#include "common/command_ids.h"
#include "common/shell_state.h"
#include "link/instrument_link.h"
#include "script/shell_host.h"

namespace parlex2 {
namespace {

// The count only grows between the script's resets; it saturates rather than
// overflow on a connection left open for a very long time.
void AddReceived(int& count, std::size_t length) {
  const long long sum = static_cast<long long>(count) + static_cast<long long>(length);
  count = sum > INT_MAX ? INT_MAX : static_cast<int>(sum);
}

// Bytes read between two looks at the clock.
constexpr int kBytesPerClockCheck = 4096;

}  // namespace

std::size_t PollReceivedData(InstrumentLink& link, ReceivedLineAssembler& lineBuffer,
                             ShellState& state, ShellHost& host, std::uint64_t budgetMs,
                             std::size_t byteLimit) {
  // Appending to an edit control costs a redraw and a scroll each time,
  // whatever the length: every complete line of this poll goes in one append.
  std::string shown;
  ReceivedLineAssembler::Line line;
  const std::uint64_t deadline = budgetMs == kNoPollBudget ? 0 : host.TickCount() + budgetMs;
  int untilClockCheck = kBytesPerClockCheck;
  std::size_t bytesRead = 0;
  int c = link.ReadByte();
  while (c >= 0) {
    ++bytesRead;
    if (lineBuffer.Feed(static_cast<unsigned char>(c), state.convertBinary, line)) {
      if (line.rawLength > 0) {
        link.LogReceivedLine(line.raw);
        if (state.timeStamps) shown += LineTimeStamp(GetClock().Now());
        shown += line.text;
        shown += "\r\n";
        state.lastReceivedLine = line.text;
      }
      AddReceived(state.receivedCount, line.rawLength);
    }
    if (byteLimit != 0 && bytesRead >= byteLimit) break;  // the rest waits in the link
    if (deadline != 0 && --untilClockCheck == 0) {
      untilClockCheck = kBytesPerClockCheck;
      if (host.TickCount() >= deadline) break;  // the rest waits in the link
    }
    c = link.ReadByte();
  }
  if (!shown.empty()) host.AppendText(shown);
  if (c == -1) host.PostCommand(ID_DISCONNECT, MARK_READ_FAILED);
  return bytesRead;
}

}  // namespace parlex2
