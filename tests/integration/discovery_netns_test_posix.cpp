// LAN discovery and the probe of found addresses, end to end: `parlex2 find`
// runs in one network namespace, simulators answering the enquiries in
// another, the two joined by a veth pair. Broadcasts never leave the pair:
// nothing here broadcasts unless both namespaces were made by this test, and
// every broadcasting process is started inside one of them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "common/text.h"
#include "support/command_posix.h"
#include "support/simulator.h"
#include "support/temp_folder.h"
#include "support/text_checks.h"

namespace parlex2 {
namespace {

// Runs `command`: true when it succeeded, otherwise false with why in `why`.
bool Ran(const std::string& command, std::string* why) {
  const auto run = testing::RunCommand(command + " 2>&1");
  if (run.status == 0) return true;
  if (why) *why = command + ": " + run.out;
  return false;
}

// "net:[inode]" of a process, or nothing when it cannot be read.
std::string NetworkNamespaceOf(const std::string& pid) {
  return testing::RunCommand("readlink /proc/" + pid + "/ns/net 2>/dev/null").out;
}

// The network namespace identity of a process started in `name`.
std::string NamespaceIdentity(const std::string& name) {
  return testing::RunCommand("ip netns exec " + name + " readlink /proc/self/ns/net 2>&1").out;
}

// Two namespaces joined by a veth pair: "instruments" holds 10.77.0.1 (and
// more addresses on demand), "client" holds 10.77.0.2. Removed on every path
// by TearDown.
class DiscoveryNetns : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "network namespaces need root; not running as root";
    const std::string vi = vethInstruments_, vc = "p2c" + tag_;
    std::string why;
    madeInstruments_ = Ran("ip netns add " + instruments_, &why);
    madeClient_ = madeInstruments_ && Ran("ip netns add " + client_, &why);
    const std::string in = "ip -n " + instruments_ + " ";
    const std::string cl = "ip -n " + client_ + " ";
    const bool ready = madeClient_ &&
                       Ran("ip link add " + vi + " netns " + instruments_ +
                               " type veth peer name " + vc + " netns " + client_,
                           &why) &&
                       Ran(in + "link set lo up", &why) && Ran(cl + "link set lo up", &why) &&
                       Ran(in + "addr add 10.77.0.1/24 dev " + vi, &why) &&
                       Ran(cl + "addr add 10.77.0.2/24 dev " + vc, &why) &&
                       Ran(in + "link set " + vi + " up", &why) &&
                       Ran(cl + "link set " + vc + " up", &why) &&
                       Ran(in + "route add default dev " + vi, &why) &&
                       Ran(cl + "route add default dev " + vc, &why);
    if (!ready) GTEST_SKIP() << "cannot make network namespaces here: " << why;
    // Refuse to go on unless both namespaces are really separate from ours.
    const std::string own = NetworkNamespaceOf("self");
    ASSERT_FALSE(own.empty());
    const std::string client = NamespaceIdentity(client_);
    const std::string instruments = NamespaceIdentity(instruments_);
    ASSERT_NE(client.find("net:["), std::string::npos) << client;
    ASSERT_EQ(client.find(own), std::string::npos) << "client namespace is ours";
    ASSERT_EQ(instruments.find(own), std::string::npos) << "instrument namespace is ours";
  }
  void TearDown() override {
    sims_.clear();  // stopped before the namespaces they run in go
    // Deleting a namespace removes its end of the pair, and with it the other.
    if (madeClient_) Ran("ip netns delete " + client_, nullptr);
    if (madeInstruments_) Ran("ip netns delete " + instruments_, nullptr);
  }

  bool AddInstrumentAddress(const std::string& address) {
    return Ran("ip -n " + instruments_ + " addr add " + address + "/24 dev " + vethInstruments_,
               nullptr);
  }

  // A simulator answering the enquiries, started inside the instruments'
  // namespace (ip netns exec hands over to it, so its pid is the simulator's).
  void StartInstrument(std::vector<std::string> options) {
    sims_.push_back(std::make_unique<testing::Simulator>("/usr/sbin/ip"));
    options.insert(options.begin(),
                   {"netns", "exec", instruments_, PARLEX2_SIM_PATH, "--discovery"});
    std::string error;
    auto& sim = *sims_.back();
    EXPECT_TRUE(sim.Start(options, &error)) << error;
    EXPECT_NE(NetworkNamespaceOf(std::to_string(sim.Pid())), NetworkNamespaceOf("self"));
  }

  // parlex2 with `arguments` in the client's namespace, under a host name of
  // its own (a UTS namespace) that no file or server knows.
  testing::CommandRun Parlex2(const std::string& arguments) {
    return testing::RunCommand("unshare --uts sh -c 'hostname parlex2-nowhere-" + tag_ +
                               " && exec ip netns exec " + client_ + " " + PARLEX2_PATH + " " +
                               arguments + "'");
  }

  const std::string tag_ = std::to_string(getpid());
  const std::string instruments_ = "p2c-inst-" + tag_, client_ = "p2c-client-" + tag_;
  const std::string vethInstruments_ = "p2i" + tag_;  // at most 15 characters, as the client's
  bool madeInstruments_ = false, madeClient_ = false;
  std::vector<std::unique_ptr<testing::Simulator>> sims_;
};

TEST_F(DiscoveryNetns, FindsEveryInstrumentAndProbesEachAddress) {
  const auto none = Parlex2("find 2>/dev/null");
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.out, "No Instruments found on this subnet\n");

  // An instrument answering both enquiries, three passes each: several
  // replies from one address, one entry per enquiry.
  StartInstrument({"--tcp", "10.77.0.1:10001"});
  // More instruments than an enquiry has looks, all answering at once. They
  // serve port 10002: the first enquiry refuses their replies, the second
  // takes them, and each probe's TCP connection is refused.
  const std::string identified = "10.77.0.1\tVeltmark,VXM66,10472,2.15";
  std::vector<std::string> second = {identified};
  for (int i = 10; i < 24; ++i) {
    const std::string address = "10.77.0." + std::to_string(i);
    ASSERT_TRUE(AddInstrumentAddress(address));
    StartInstrument({"--tcp", address + ":10002"});
    second.push_back(address + "\tConnection Failed 1");
  }
  const auto run = Parlex2("find 2>/dev/null");
  EXPECT_EQ(run.status, 0);
  auto lines = SplitText(run.out, '\n');
  // The first enquiry's entries come first.
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], identified);
  std::sort(lines.begin() + 1, lines.end());
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end()), second) << run.out;

  // The enquiries came from the client's side of the pair, three of each.
  auto& sim = *sims_.front();
  ASSERT_TRUE(sim.Stop());
  const std::string transcript = sim.TranscriptText();
  EXPECT_EQ(testing::Occurrences(transcript, "enquiry of"), 6u) << transcript;
  EXPECT_NE(transcript.find("from 10.77.0.2"), std::string::npos) << transcript;
  // Each probe of the instrument sent *IDN?, one per enquiry's entry.
  EXPECT_EQ(testing::Occurrences(sim.Received(), std::string("*IDN?\n", 7)), 2u);
}

// --found: the command runs once on each instrument the search finds, though
// the search lists one that answers both enquiries twice.
TEST_F(DiscoveryNetns, FoundRunsTheCommandOnceOnEachInstrumentFound) {
  ASSERT_TRUE(AddInstrumentAddress("10.77.0.6"));
  StartInstrument({"--tcp", "10.77.0.1:10001"});
  StartInstrument({"--tcp", "10.77.0.6:10001", "--idn", "Veltmark,VXM66,606,2.15"});
  testing::TempFolder folder("parlex2-found");
  const std::string summaryPath = folder.File("summary.json");
  const auto run = Parlex2("--found --json " + summaryPath + " identify 2>&1");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.out.find("named twice"), std::string::npos) << run.out;
  const auto summary = nlohmann::json::parse(testing::ReadFileBytes(summaryPath), nullptr, false);
  ASSERT_TRUE(summary.is_object()) << run.out;
  std::vector<std::string> identified;
  for (const auto& entry : summary["instruments"]) {
    EXPECT_EQ(entry["result"], "ok") << entry;
    identified.push_back(entry["address"].get<std::string>() + " " +
                         entry["identity"]["serialNumber"].get<std::string>());
  }
  std::sort(identified.begin(), identified.end());
  EXPECT_EQ(identified, (std::vector<std::string>{"10.77.0.1 10472", "10.77.0.6 606"}));
}

}  // namespace
}  // namespace parlex2
