#include "link/discovery.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>

#include "support/fake_clock.h"

namespace parlex2 {
namespace {

// `lead`, `dots` dots and `tail`.
std::string FirstForm(std::string_view tail, std::size_t dots = 19, char lead = 'A') {
  return std::string(1, lead).append(dots, '.').append(tail);
}

std::string SecondForm(char fourth) {
  return std::string(3, '\0').append(1, fourth).append(26, '\0');
}

// Each datagram against both enquiries: the first takes 26 bytes or more
// with 'A' first and the instrument port after the first slash, the second
// 30 bytes with 0xF7 fourth.
TEST(DiscoveryReplies, EachEnquiryTakesOnlyItsOwnForm) {
  const struct {
    std::string datagram;
    bool first, second;
  } cases[] = {
      {FirstForm("/10001"), true, false},  // 26 bytes
      {FirstForm("/10001/whatever"), true, false},
      {FirstForm("/10001", 18), false, false},  // 25 bytes
      {FirstForm("/10002"), false, false},
      {FirstForm("/10001", 19, 'B'), false, false},
      {FirstForm("", 25), false, false},  // no slash
      {FirstForm("/x0001"), false, false},
      {FirstForm("/100010"), false, false},
      {std::string("A/abc/10001").append(20, '.'), false, false},  // the first slash counts
      {std::string("A/10001/").append(20, '\0'), true, false},
      {SecondForm('\xF7'), false, true},
      {SecondForm('\xF7') + '\0', false, false},
      {SecondForm('\xF7').substr(0, 29), false, false},
      {SecondForm('\xF6'), false, false},
      {"", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.datagram));
    EXPECT_EQ(AcceptFirstEnquiryReply(c.datagram), c.first);
    EXPECT_EQ(AcceptSecondEnquiryReply(c.datagram), c.second);
  }
}

// A bench network of 50 instruments that all answer each request at once,
// each reply preceded by a datagram the enquiry refuses and one too large for
// its buffer, so that a reader taking one datagram per look misses most of
// them. Before them all, two replies from senders no list entry can hold.
class BenchSocket final : public EnquirySocket {
 public:
  // `requests` takes the destination port of each request sent.
  explicit BenchSocket(std::vector<std::uint16_t>& requests) : requests_(requests) {}
  bool WaitWritable(std::uint32_t) override { return true; }
  void SendTo(const std::string& address, std::uint16_t port, std::string_view) override {
    EXPECT_EQ(address, "255.255.255.255");
    requests_.push_back(port);
    const std::string reply = port == kSecondEnquiryPort ? SecondForm('\xF7') : FirstForm("/10001");
    waiting_.push_back({"", reply});
    waiting_.push_back({std::string(kFoundAddressMax + 1, '1'), reply});
    for (int i = 1; i <= 50; ++i) {
      const std::string n = std::to_string(i);
      waiting_.push_back({"10.0.2." + n, std::string(2000, 'A')});  // oversized
      waiting_.push_back({"10.0.1." + n, FirstForm("/10001", 19, 'B')});
      waiting_.push_back({"10.0.0." + n, reply});
    }
  }
  DatagramStatus ReceiveNow(char* buffer, std::size_t capacity, std::size_t& received,
                            std::string& sender) override {
    if (waiting_.empty()) return DatagramStatus::NothingWaiting;
    auto [from, bytes] = waiting_.front();
    waiting_.pop_front();
    if (bytes.size() > capacity) return DatagramStatus::Oversized;
    std::memcpy(buffer, bytes.data(), bytes.size());
    received = bytes.size();
    sender = from;
    return DatagramStatus::Received;
  }

 private:
  std::vector<std::uint16_t>& requests_;
  std::deque<std::pair<std::string, std::string>> waiting_;
};

TEST(DiscoveryEnquiry, EveryInstrumentThatAnsweredIsListedOnceAmongRefusedDatagrams) {
  testing::FakeClock clock;
  std::vector<std::uint16_t> requests;
  const EnquirySocketOpener bench = [&](std::uint16_t) {
    return std::make_unique<BenchSocket>(requests);
  };
  std::vector<FoundInstrument> list;
  EXPECT_EQ(LanFindInstruments(list, kFoundListCapacity, bench), 100);
  EXPECT_EQ(requests, (std::vector<std::uint16_t>{kFirstEnquiryPort, kFirstEnquiryPort,
                                                  kFirstEnquiryPort, kSecondEnquiryPort,
                                                  kSecondEnquiryPort, kSecondEnquiryPort}));
  ASSERT_EQ(list.size(), 100u);
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(list[i].address, "10.0.0." + std::to_string(i % 50 + 1)) << i;
  }

  // The second enquiry fills only the room the first left.
  EXPECT_EQ(LanFindInstruments(list, 60, bench), 60);
  EXPECT_EQ(list.back().address, "10.0.0.10");

  // A socket that cannot be set up finds nothing.
  EXPECT_EQ(LanFindInstruments(list, kFoundListCapacity, [](std::uint16_t) { return nullptr; }), 0);
}

}  // namespace
}  // namespace parlex2
