#include "link/discovery.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>

#include "support/fake_clock.h"

namespace parlex2 {
namespace {

TEST(DiscoveryReplies, FirstEnquiry) {
  // A reply of its first byte, `dots` dots and `tail`.
  const auto reply = [](char first, std::size_t dots, std::string_view tail) {
    return std::string(1, first).append(dots, '.').append(tail);
  };
  const std::string base = reply('A', 19, "/10001");  // 26 bytes
  ASSERT_EQ(base.size(), 26u);
  EXPECT_TRUE(AcceptFirstEnquiryReply(base));
  EXPECT_TRUE(AcceptFirstEnquiryReply(base + "/whatever"));
  EXPECT_FALSE(AcceptFirstEnquiryReply(base.substr(1) + ""));  // 25 bytes
  EXPECT_FALSE(AcceptFirstEnquiryReply(reply('A', 19, "/10002")));
  EXPECT_FALSE(AcceptFirstEnquiryReply(reply('B', 19, "/10001")));
  EXPECT_FALSE(AcceptFirstEnquiryReply(reply('A', 25, "")));  // no slash
  EXPECT_FALSE(AcceptFirstEnquiryReply(reply('A', 19, "/x0001")));
  EXPECT_FALSE(AcceptFirstEnquiryReply(reply('A', 19, "/100010")));
  EXPECT_FALSE(
      AcceptFirstEnquiryReply("A/abc/10001" + std::string(20, '.')));  // first slash counts
  EXPECT_TRUE(AcceptFirstEnquiryReply("A/10001/" + std::string(20, '\0')));
}

TEST(DiscoveryReplies, SecondEnquiry) {
  std::string reply(30, '\0');
  reply[3] = static_cast<char>(0xF7);
  EXPECT_TRUE(AcceptSecondEnquiryReply(reply));
  EXPECT_FALSE(AcceptSecondEnquiryReply(reply + '\0'));
  EXPECT_FALSE(AcceptSecondEnquiryReply(reply.substr(0, 29)));
  reply[3] = static_cast<char>(0xF6);
  EXPECT_FALSE(AcceptSecondEnquiryReply(reply));
  EXPECT_FALSE(AcceptSecondEnquiryReply(""));
}

TEST(DiscoveryList, DuplicatesIgnoredAndTheListBounded) {
  std::vector<FoundInstrument> entries;
  EXPECT_TRUE(AddFoundAddress(entries, 2, "10.0.0.1"));
  EXPECT_FALSE(AddFoundAddress(entries, 2, "10.0.0.1"));
  EXPECT_TRUE(AddFoundAddress(entries, 2, "10.0.0.2"));
  EXPECT_FALSE(AddFoundAddress(entries, 2, "10.0.0.3"));
  EXPECT_FALSE(AddFoundAddress(entries, 3, ""));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].address, "10.0.0.2");
}

// A bench network of instruments that all answer each request at once, each
// reply preceded by a datagram the enquiry refuses and one too large for its
// buffer, so that a reader taking one datagram per look misses most of them.
struct BenchNetwork {
  int instruments = 50;
  std::vector<std::uint16_t> requests;  // destination port of each request sent

  class Socket final : public EnquirySocket {
   public:
    explicit Socket(BenchNetwork& net) : net_(net) {}
    bool WaitWritable(std::uint32_t) override { return true; }
    void SendTo(const std::string& address, std::uint16_t port, std::string_view) override {
      EXPECT_EQ(address, "255.255.255.255");
      net_.requests.push_back(port);
      for (int i = 1; i <= net_.instruments; ++i) {
        const std::string n = std::to_string(i);
        waiting_.push_back({"10.0.2." + n, std::string(2000, 'A')});  // oversized
        waiting_.push_back({"10.0.1." + n, "B" + std::string(19, '.') + "/10001"});
        std::string reply = "A" + std::string(19, '.') + "/10001";
        if (port == kSecondEnquiryPort) {
          reply.assign(30, '\0');
          reply[3] = static_cast<char>(0xF7);
        }
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
    BenchNetwork& net_;
    std::deque<std::pair<std::string, std::string>> waiting_;
  };

  EnquirySocketOpener Opener() {
    return [this](std::uint16_t) { return std::make_unique<Socket>(*this); };
  }
};

TEST(DiscoveryEnquiry, EveryInstrumentThatAnsweredIsListedOnceAmongRefusedDatagrams) {
  testing::FakeClock clock;
  BenchNetwork net;
  std::vector<FoundInstrument> list;
  EXPECT_EQ(LanFindInstruments(list, kFoundListCapacity, net.Opener()), 100);
  EXPECT_EQ(net.requests, (std::vector<std::uint16_t>{kFirstEnquiryPort, kFirstEnquiryPort,
                                                      kFirstEnquiryPort, kSecondEnquiryPort,
                                                      kSecondEnquiryPort, kSecondEnquiryPort}));
  ASSERT_EQ(list.size(), 100u);
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(list[i].address, "10.0.0." + std::to_string(i % 50 + 1)) << i;
  }

  // The second enquiry fills only the room the first left.
  net.requests.clear();
  EXPECT_EQ(LanFindInstruments(list, 60, net.Opener()), 60);
  EXPECT_EQ(list.back().address, "10.0.0.10");

  // A socket that cannot be set up finds nothing.
  EXPECT_EQ(LanFindInstruments(list, kFoundListCapacity, [](std::uint16_t) { return nullptr; }), 0);
}

}  // namespace
}  // namespace parlex2
