// The received-data poller, and through it the received-line assembler:
// line ends, binary values, long lines.
#include <gtest/gtest.h>

#include "app/poller.h"
#include "app/shell.h"
#include "link/binary_value.h"
#include "link/comms_log.h"
#include "support/comms_log_file.h"
#include "support/fake_shell.h"
#include "support/temp_folder.h"

namespace parlex2::testing {
namespace {

void Poll(FakeShell& shell) { PollReceivedData(shell.link, shell.lineBuffer, shell.state, shell); }

// CR, LF and NUL each end a line, and blank lines are not shown. A line of
// 20479 received bytes made of binary values grows to well over 20479
// characters; it is shown whole. (The count of bytes received, the partial
// line kept and the poll matching the assembler, converting or not, for any
// bytes in any pieces: fuzz_received_lines.)
TEST(Poller, ShowsEachLineAndTheLongestConvertedWhole) {
  const unsigned char value[4] = {0x8A, 0x74, 0x21, 0x22};
  std::string text;
  BinaryValueToText(value, &text);
  std::string line;
  while (line.size() < 20479) line.append(reinterpret_cast<const char*>(value), 4);
  FakeShell shell;
  shell.peer->Queue(std::string("1.234\r\n\r\n\rab\0cd", 15));
  Poll(shell);
  EXPECT_EQ(shell.ResultsText(), "1.234\r\nab\r\n");
  shell.peer->Queue("e\n" + line);  // no line end: the 20479th byte completes the line
  Poll(shell);
  std::string expected = "1.234\r\nab\r\ncde\r\n";
  for (std::size_t i = 0; i < 20479 / 4; ++i) expected += text;
  const unsigned char last[4] = {0x8A, 0x74, 0x21, 0x00};  // the cut value, padded with 0
  std::string lastText;
  BinaryValueToText(last, &lastText);
  expected += lastText + "\r\n";
  EXPECT_GT(expected.size(), 20479u + 20);
  EXPECT_EQ(shell.ResultsText(), expected);
}

// The trace shows what the instrument sent, not only what the link's own
// reads took: each line the poller completes is one entry, as ReadLine
// writes it (numbered, the serial number, "<<", the bytes as received).
TEST(Poller, LogsEveryReceivedLineAsTheLinkLogsAReply) {
  TempFolder folder("parlex2-poller-log");
  const std::string path = folder.File("comms.log");
  FakeShell shell;  // opened before the log starts
  CommsLogFile log(path);
  shell.link.info.idnReply = "Veltmark,VXM66,10472,2.15";
  shell.peer->Queue("read by the link\r\n");
  char buffer[64];
  shell.link.ReadLine(buffer, sizeof buffer);
  const std::string binary = "v=\x8A\x74\x21\x22";
  shell.peer->Queue("1.234\r\n\r\n" + binary + "\nab");
  Poll(shell);
  shell.peer->Queue("c\n");
  Poll(shell);

  std::vector<std::string> entries;
  for (const std::string& entry : CommsLogEntries(path)) {
    if (!entry.starts_with('(')) continue;  // the log's own lines
    entries.push_back(entry.substr(entry.find(") ") + 2));
  }
  const std::vector<std::string> expected = {
      "[serial:10472]<<\tread by the link", "[serial:10472]<<\t1.234",
      "[serial:10472]<<\t" + binary, "[serial:10472]<<\tabc"};
  EXPECT_EQ(entries, expected);
}

// An edit control redraws and scrolls on every append, so a poll shows all
// its complete lines in one append. The window's timer reads a batch in step
// with what the pane holds; under a time budget a poll stops when the time is
// up. Either way the rest stays in the link: nothing lost or reordered.
TEST(Poller, OneAppendPerPollAndItsLimitsLeaveTheRestInTheLink) {
  EXPECT_EQ(PollByteLimit(0), kPollByteLimitMin);
  EXPECT_EQ(PollByteLimit(16 * 100000), 100000u);
  EXPECT_EQ(PollByteLimit(std::size_t{1} << 40), kPollByteLimitMax);

  FakeShell shell;
  std::string sent;
  for (int i = 0; i < 100000; ++i) sent += "stream," + std::to_string(i) + ",1.234\r\n";
  shell.peer->Queue(sent);
  std::size_t polls = 0;
  for (; !shell.peer->pending.empty(); ++polls) shell.Timer();
  ASSERT_GE(polls, 3u);
  EXPECT_EQ(shell.appendSizes.size(), polls);
  EXPECT_LE(shell.appendSizes.front(), kPollByteLimitMin);
  EXPECT_GT(shell.appendSizes.back(), kPollByteLimitMin);  // the pane has grown
  EXPECT_EQ(shell.ResultsText(), sent);

  shell.peer->Queue(sent);
  shell.tickStep = 1;  // each look at the clock finds a millisecond gone
  PollReceivedData(shell.link, shell.lineBuffer, shell.state, shell, 10);
  const std::size_t firstPoll = shell.ResultsText().size() - sent.size();
  EXPECT_GT(firstPoll, 0u);
  EXPECT_LT(firstPoll, sent.size() / 2);
  while (!shell.peer->pending.empty()) shell.Timer();
  EXPECT_EQ(shell.ResultsText(), sent + sent);
}

}  // namespace
}  // namespace parlex2::testing
