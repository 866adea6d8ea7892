// Received bytes into the lines the results pane shows: the assembler on its
// own, and the poller reading the same bytes from a link in pieces.
//
// Properties: the raw lines joined are the input less its line ends (a line
// cut at the limit continues in the next), and without conversion each is
// shown as it came; every raw length
// is at most the limit; the received count is the sum of the raw lengths; the
// poller shows exactly what the assembler makes, however the bytes arrive.
#include <cstdint>
#include <memory>
#include <string>

#include "app/poller.h"
#include "app/terminal.h"
#include "common/shell_state.h"
#include "fuzz_check.h"
#include "support/fake_shell.h"

using namespace parlex2;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const bool convert = data[0] & 1;
  const std::size_t piece = 1 + data[1] % 64 * (data[0] & 2 ? 64 : 1);  // bytes per poll
  const std::string input(fuzz::AsText(data + 2, size - 2));
  // Long lines are what the limit is for: repeat the input past it sometimes.
  const std::string bytes =
      (data[0] & 2) ? std::string(input).append(std::string(ReceivedLineAssembler::kLineLimit, 'L'))
                    : input;

  ReceivedLineAssembler assembler;
  ReceivedLineAssembler::Line line;
  std::string shown;   // what the pane would hold
  std::string joined;  // the raw lines, joined
  std::size_t rawTotal = 0;
  for (char c : bytes) {
    if (assembler.Feed(static_cast<unsigned char>(c), convert, line)) {
      FUZZ_CHECK(line.rawLength <= ReceivedLineAssembler::kLineLimit);
      FUZZ_CHECK(line.rawLength == 0 || !line.text.empty());
      FUZZ_CHECK(line.text.find_first_of(std::string("\r\n\0", 3)) == std::string::npos);
      if (line.rawLength > 0) shown += line.text + "\r\n";
      FUZZ_CHECK(line.raw.size() == line.rawLength);
      FUZZ_CHECK(convert || line.text == line.raw);
      joined += line.raw;
      rawTotal += line.rawLength;
    }
    FUZZ_CHECK(assembler.PendingLength() < ReceivedLineAssembler::kLineLimit);
  }
  std::string expected;
  for (char c : bytes) {
    if (c != '\n' && c != '\r' && c != '\0') expected += c;
  }
  expected.resize(expected.size() - assembler.PendingLength());
  FUZZ_CHECK(joined == expected);

  // The poller over a link, the bytes arriving `piece` at a time.
  parlex2::testing::FakeShell shell;
  shell.state.convertBinary = convert;
  shell.state.receivedCount = 0;
  for (std::size_t at = 0; at < bytes.size(); at += piece) {
    shell.peer->Queue(bytes.substr(at, piece));
    PollReceivedData(shell.link, shell.lineBuffer, shell.state, shell);
  }
  FUZZ_CHECK(shell.ResultsText() == shown);
  FUZZ_CHECK(static_cast<std::size_t>(shell.state.receivedCount) == rawTotal);
  FUZZ_CHECK(shell.lineBuffer.PendingLength() == assembler.PendingLength());
  FUZZ_CHECK(!shell.TakePosted());  // no read error, so no disconnect
  return 0;
}
