#include "app/poller.h"

#include <climits>

#include "app/terminal.h"
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

}  // namespace

void PollReceivedData(InstrumentLink& link, ReceivedLineAssembler& lineBuffer, ShellState& state,
                      ShellHost& host) {
  ReceivedLineAssembler::Line line;
  int c = link.ReadByte();
  while (c >= 0) {
    if (lineBuffer.Feed(static_cast<unsigned char>(c), state.convertBinary, line)) {
      if (line.rawLength > 0) host.AppendText(line.text + "\r\n");
      AddReceived(state.receivedCount, line.rawLength);
    }
    c = link.ReadByte();
  }
  if (c == -1) host.PostCommand(ID_DISCONNECT, 1);
}

}  // namespace parlex2
