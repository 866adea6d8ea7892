#include "link/discovery.h"

#include <gtest/gtest.h>

namespace parlex2 {
namespace {

TEST(DiscoveryReplies, FirstEnquiry) {
  const std::string base = "A" + std::string(19, '.') + "/10001";  // 26 bytes
  ASSERT_EQ(base.size(), 26u);
  EXPECT_TRUE(AcceptFirstEnquiryReply(base));
  EXPECT_TRUE(AcceptFirstEnquiryReply(base + "/whatever"));
  EXPECT_FALSE(AcceptFirstEnquiryReply(base.substr(1) + ""));  // 25 bytes
  EXPECT_FALSE(AcceptFirstEnquiryReply("A" + std::string(19, '.') + "/10002"));
  EXPECT_FALSE(AcceptFirstEnquiryReply("B" + std::string(19, '.') + "/10001"));
  EXPECT_FALSE(AcceptFirstEnquiryReply("A" + std::string(25, '.')));  // no slash
  EXPECT_FALSE(AcceptFirstEnquiryReply("A" + std::string(19, '.') + "/x0001"));
  EXPECT_FALSE(AcceptFirstEnquiryReply("A" + std::string(19, '.') + "/100010"));
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

}  // namespace
}  // namespace parlex2
