// Discovery: the datagrams anything on the subnet may send back to the two
// enquiries, the list of senders they build, and the *IDN? probe of each found
// address against a reply from the input.
//
// Properties: an accepted first reply names the instrument port after its
// first '/'; an accepted second reply is the 30-byte form; the found list has
// no address twice, none too long and never more than its capacity; every
// probe row belongs to one entry, in order, and a stored description is a
// comma reply of at most 127 characters.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "common/text.h"
#include "connect/lan_search.h"
#include "fuzz_check.h"
#include "link/discovery.h"
#include "support/fake_clock.h"
#include "support/memory_transport.h"
#include "support/recording_ui.h"

using namespace parlex2;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::size_t capacity = input.ConsumeIntegralInRange<std::size_t>(0, 8);
  std::vector<FoundInstrument> found;
  std::vector<std::string> replies;
  while (input.remaining_bytes() > 0 && replies.size() < 32) {
    const std::string datagram = input.ConsumeRandomLengthString(64);
    if (AcceptFirstEnquiryReply(datagram)) {
      FUZZ_CHECK(datagram.size() >= 26 && datagram[0] == 'A');
      const std::string_view port = std::string_view(datagram).substr(datagram.find('/') + 1);
      FUZZ_CHECK(!port.empty() && port[0] >= '0' && port[0] <= '9' && AtoI(port) == 10001);
    }
    if (AcceptSecondEnquiryReply(datagram)) {
      FUZZ_CHECK(datagram.size() == 30 && static_cast<unsigned char>(datagram[3]) == 0xF7);
    }
    const std::size_t before = found.size();
    const bool added = AddFoundAddress(
        found, capacity, datagram.substr(0, input.ConsumeIntegral<std::uint8_t>() % 20));
    FUZZ_CHECK(found.size() == before + (added ? 1 : 0));
    FUZZ_CHECK(found.size() <= capacity);
    replies.push_back(input.ConsumeRandomLengthString(300));
  }
  std::set<std::string> addresses;
  for (const FoundInstrument& entry : found) {
    FUZZ_CHECK(!entry.address.empty() && entry.address.size() <= kFoundAddressMax);
    FUZZ_CHECK(addresses.insert(entry.address).second);
  }

  // Each found address answers *IDN? with the next reply (or not at all).
  parlex2::testing::FakeClock clock;
  parlex2::testing::RecordingUi ui;
  std::size_t next = 0;
  auto factory = parlex2::testing::PeerFactory([&](const ConnectionSettings&) {
    const std::string reply = next < replies.size() ? replies[next++] : std::string();
    auto peer = std::make_shared<parlex2::testing::MemoryPeer>();
    peer->respond = parlex2::testing::Answers({{"*IDN?\n", reply}});
    return reply == "refuse" ? nullptr : peer;
  });
  const ProbeResult result = ProbeFoundInstruments(ui, found, factory);
  FUZZ_CHECK(result.rows.size() <= found.size());
  FUZZ_CHECK(result.selectFirst == (result.rows.size() == 1));
  FUZZ_CHECK(ui.waitDepth == 0);
  for (std::size_t i = 0; i < result.rows.size(); ++i) {
    const ProbeRow& row = result.rows[i];
    FUZZ_CHECK(row.entryIndex < found.size());
    FUZZ_CHECK(i == 0 || row.entryIndex > result.rows[i - 1].entryIndex);
    FUZZ_CHECK(row.text.starts_with(found[row.entryIndex].address + "\t"));
  }
  for (const FoundInstrument& entry : found) {
    FUZZ_CHECK(entry.description.size() <= kFoundDescriptionMax);
    FUZZ_CHECK(entry.description.empty() || entry.description.find(',') != std::string::npos);
  }
  return 0;
}
