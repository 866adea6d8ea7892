// The simulator's soak stream: every line whole (no line end inside, not even
// in a binary value), numbered from 1 with a check a reader can recompute, and
// the end line counting exactly what went before it.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "sim/soak.h"

namespace parlex2::sim {
namespace {

TEST(SimSoak, LinesAreWholeAndCarryTheirOwnCheck) {
  int binary = 0;
  for (std::uint64_t n = 1; n <= 4000; ++n) {
    const std::string line = SoakLine(n);
    ASSERT_TRUE(line.ends_with("\r\n")) << n;
    const std::string body = line.substr(0, line.size() - 2);
    ASSERT_EQ(body.find_first_of(std::string("\r\n\0", 3)), std::string::npos) << n;
    const std::string number = std::string(",").append(std::to_string(n)).append(",");
    ASSERT_EQ(body.find(number), 1u) << body;
    char check[16];
    if (body[0] == 'b') {
      ++binary;
      ASSERT_EQ(static_cast<unsigned char>(body[number.size() + 1]) & 0x80, 0x80) << n;
      std::snprintf(check, sizeof check, "%08X", SoakHash("b," + std::to_string(n)));
    } else {
      std::snprintf(check, sizeof check, "%08X", SoakHash(body.substr(0, body.rfind(','))));
    }
    EXPECT_TRUE(body.ends_with(std::string(",") + check)) << body;
  }
  EXPECT_EQ(binary, 1000);
}

TEST(SimSoak, StreamStopsAtItsSizeWithAnEndLineThatCountsIt) {
  SoakStream stream;
  stream.Start(10000);
  std::string out;
  while (stream.Active()) {
    std::string chunk;
    stream.Fill(chunk, 700);
    out += chunk;
  }
  const std::size_t end = out.rfind("end,");
  ASSERT_NE(end, std::string::npos);
  std::uint64_t lines = 0;
  for (std::size_t at = 0; at < end; at = out.find("\r\n", at) + 2) ++lines;
  EXPECT_EQ(out.substr(end), "end," + std::to_string(lines) + "," + std::to_string(end) + "\r\n");
  EXPECT_GE(end, 10000u);
  EXPECT_LT(end - SoakLine(lines).size(), 10000u);  // the last line was the one that reached it
}

}  // namespace
}  // namespace parlex2::sim
