// LAN discovery and the probe of found addresses, end to end: `parlex2 find`
// runs in one network namespace, simulators answering the enquiries in
// another, the two joined by a veth pair. Broadcasts never leave the pair:
// nothing here broadcasts unless both namespaces were made by this test, and
// every broadcasting process is started inside one of them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "support/command_posix.h"
#include "support/simulator.h"
#include "support/temp_folder.h"

namespace parlex2 {
namespace {

bool Run(const std::string& command, std::string* why) {
  const auto run = testing::RunCommand(command + " 2>&1");
  if (run.status == 0) return true;
  if (why) *why = command + ": " + run.out;
  return false;
}

std::string NetworkNamespaceOf(const std::string& pid) {
  char target[128] = {};
  const std::string link = "/proc/" + pid + "/ns/net";
  const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
  return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

// Two namespaces joined by a veth pair: "instruments" holds 10.77.0.1 (and
// more addresses on demand), "client" holds 10.77.0.2. Removed on every path
// by the destructor.
class NamespacePair {
 public:
  NamespacePair() {
    const std::string tag = std::to_string(getpid());
    instruments_ = "p2c-inst-" + tag;
    client_ = "p2c-client-" + tag;
    const std::string vi = "p2i" + tag, vc = "p2c" + tag;  // at most 15 characters
    if (!Run("ip netns add " + instruments_, &why_)) return;
    madeInstruments_ = true;
    if (!Run("ip netns add " + client_, &why_)) return;
    madeClient_ = true;
    const std::string in = "ip -n " + instruments_ + " ";
    const std::string cl = "ip -n " + client_ + " ";
    ready_ = Run("ip link add " + vi + " netns " + instruments_ + " type veth peer name " + vc +
                     " netns " + client_,
                 &why_) &&
             Run(in + "link set lo up", &why_) && Run(cl + "link set lo up", &why_) &&
             Run(in + "addr add 10.77.0.1/24 dev " + vi, &why_) &&
             Run(cl + "addr add 10.77.0.2/24 dev " + vc, &why_) &&
             Run(in + "link set " + vi + " up", &why_) &&
             Run(cl + "link set " + vc + " up", &why_) &&
             Run(in + "route add default dev " + vi, &why_) &&
             Run(cl + "route add default dev " + vc, &why_);
    vethInstruments_ = vi;
  }
  ~NamespacePair() {
    // Deleting a namespace removes its end of the pair, and with it the other.
    if (madeClient_) Run("ip netns delete " + client_, nullptr);
    if (madeInstruments_) Run("ip netns delete " + instruments_, nullptr);
  }

  bool ready() const { return ready_; }
  const std::string& why() const { return why_; }
  const std::string& instruments() const { return instruments_; }
  const std::string& client() const { return client_; }

  bool AddInstrumentAddress(const std::string& address) {
    return Run("ip -n " + instruments_ + " addr add " + address + "/24 dev " + vethInstruments_,
               &why_);
  }

  // The network namespace identity of a process started in `name`.
  std::string NamespaceIdentity(const std::string& name) {
    return testing::RunCommand("ip netns exec " + name + " readlink /proc/self/ns/net 2>&1").out;
  }

 private:
  std::string instruments_, client_, vethInstruments_, why_;
  bool madeInstruments_ = false, madeClient_ = false, ready_ = false;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class DiscoveryNetns : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "network namespaces need root; not running as root";
    pair_ = std::make_unique<NamespacePair>();
    if (!pair_->ready()) GTEST_SKIP() << "cannot make network namespaces here: " << pair_->why();
    // Refuse to go on unless both namespaces are really separate from ours.
    const std::string own = NetworkNamespaceOf("self");
    ASSERT_FALSE(own.empty());
    const std::string client = pair_->NamespaceIdentity(pair_->client());
    const std::string instruments = pair_->NamespaceIdentity(pair_->instruments());
    ASSERT_NE(client.find("net:["), std::string::npos) << client;
    ASSERT_EQ(client.find(own), std::string::npos) << "client namespace is ours";
    ASSERT_EQ(instruments.find(own), std::string::npos) << "instrument namespace is ours";
  }

  // A simulator answering the enquiries, started inside the instruments'
  // namespace (ip netns exec hands over to it, so its pid is the simulator's).
  testing::Simulator& StartInstrument(std::vector<std::string> options) {
    sims_.push_back(std::make_unique<testing::Simulator>("/usr/sbin/ip"));
    options.insert(options.begin(),
                   {"netns", "exec", pair_->instruments(), PARLEX2_SIM_PATH, "--discovery"});
    std::string error;
    auto& sim = *sims_.back();
    EXPECT_TRUE(sim.Start(options, &error)) << error;
    EXPECT_NE(NetworkNamespaceOf(std::to_string(sim.Pid())), NetworkNamespaceOf("self"));
    return sim;
  }

  testing::CommandRun Find() {
    return testing::RunCommand("ip netns exec " + pair_->client() + " " + PARLEX2_PATH +
                               " find 2>/dev/null");
  }

  void TearDown() override {
    for (auto& sim : sims_) sim->Stop();
    sims_.clear();
    pair_.reset();
  }

  std::unique_ptr<NamespacePair> pair_;
  std::vector<std::unique_ptr<testing::Simulator>> sims_;
};

TEST_F(DiscoveryNetns, NoInstrumentsOnTheSubnet) {
  const auto run = Find();
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "No Instruments found on this subnet\n");
}

TEST_F(DiscoveryNetns, FindsInstrumentsWhenThisComputersNameDoesNotResolve) {
  StartInstrument({"--tcp", "10.77.0.1:10001"});
  // A host name of its own (a UTS namespace) that no file or server knows.
  const std::string name = "parlex2-nowhere-" + std::to_string(getpid());
  const auto run =
      testing::RunCommand("unshare --uts sh -c 'hostname " + name + " && exec ip netns exec " +
                          pair_->client() + " " + PARLEX2_PATH + " find' 2>/dev/null");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(Lines(run.out), (std::vector<std::string>{"10.77.0.1\tVeltmark,VXM66,10472,2.15",
                                                      "10.77.0.1\tVeltmark,VXM66,10472,2.15"}))
      << run.out;
}

TEST_F(DiscoveryNetns, FindsProbesAndReportsEachAddress) {
  ASSERT_TRUE(pair_->AddInstrumentAddress("10.77.0.3"));
  ASSERT_TRUE(pair_->AddInstrumentAddress("10.77.0.4"));
  ASSERT_TRUE(pair_->AddInstrumentAddress("10.77.0.5"));
  // An instrument answering both enquiries, three passes each: several
  // replies from one address, one entry per enquiry.
  StartInstrument({"--tcp", "10.77.0.1:10001"});
  // Serves another port: the first enquiry's reply names it and is refused,
  // the second's is taken, and the probe's TCP connection is refused.
  StartInstrument({"--tcp", "10.77.0.3:10002"});
  // Answers *IDN? without a comma.
  StartInstrument({"--tcp", "10.77.0.4:10001", "--idn", "NO COMMA HERE"});
  // Answers the enquiries but nothing on TCP.
  StartInstrument({"--tcp", "10.77.0.5:10001", "--mode", "silent"});

  const auto run = Find();
  EXPECT_EQ(run.status, 0);
  auto lines = Lines(run.out);
  // The first enquiry's entries come first, in the order the replies came.
  ASSERT_EQ(lines.size(), 7u) << run.out;
  std::vector<std::string> first(lines.begin(), lines.begin() + 3);
  std::vector<std::string> second(lines.begin() + 3, lines.end());
  std::sort(first.begin(), first.end());
  std::sort(second.begin(), second.end());
  EXPECT_EQ(first, (std::vector<std::string>{"10.77.0.1\tVeltmark,VXM66,10472,2.15",
                                             "10.77.0.4\tConnection Failed 3",
                                             "10.77.0.5\tConnection Failed 2"}))
      << run.out;
  EXPECT_EQ(second, (std::vector<std::string>{
                        "10.77.0.1\tVeltmark,VXM66,10472,2.15", "10.77.0.3\tConnection Failed 1",
                        "10.77.0.4\tConnection Failed 3", "10.77.0.5\tConnection Failed 2"}))
      << run.out;

  // The enquiries came from the client's side of the pair, three of each.
  auto& sim = *sims_.front();
  ASSERT_TRUE(sim.Stop());
  const std::string transcript = sim.TranscriptText();
  std::size_t enquiries = 0;
  for (std::size_t at = 0; (at = transcript.find("enquiry of", at)) != std::string::npos; ++at) {
    ++enquiries;
  }
  EXPECT_EQ(enquiries, 6u) << transcript;
  EXPECT_NE(transcript.find("from 10.77.0.2"), std::string::npos) << transcript;
  // Each probe of the instrument sent *IDN?, one per enquiry's entry.
  std::string idn = "*IDN?\n";
  idn += '\0';
  const std::string received = sim.Received();
  std::size_t asked = 0;
  for (std::size_t at = 0; (at = received.find(idn, at)) != std::string::npos; ++at) ++asked;
  EXPECT_EQ(asked, 2u);
}

TEST_F(DiscoveryNetns, EveryInstrumentOfAFullBenchIsListed) {
  // More instruments than an enquiry has looks, all answering at once. They
  // serve port 10002: the first enquiry refuses their replies, the second
  // takes them, and each probe is refused at once.
  std::vector<std::string> expected;
  for (int i = 10; i < 24; ++i) {
    const std::string address = "10.77.0." + std::to_string(i);
    ASSERT_TRUE(pair_->AddInstrumentAddress(address));
    StartInstrument({"--tcp", address + ":10002"});
    expected.push_back(address + "\tConnection Failed 1");
  }
  const auto run = Find();
  EXPECT_EQ(run.status, 0);
  auto lines = Lines(run.out);
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines, expected) << run.out;
}

// --found: the command runs once on each instrument the search finds, though
// the search lists one that answers both enquiries twice.
TEST_F(DiscoveryNetns, FoundRunsTheCommandOnceOnEachInstrumentFound) {
  ASSERT_TRUE(pair_->AddInstrumentAddress("10.77.0.6"));
  StartInstrument({"--tcp", "10.77.0.1:10001"});
  StartInstrument({"--tcp", "10.77.0.6:10001", "--idn", "Veltmark,VXM66,606,2.15"});
  testing::TempFolder folder("parlex2-found");
  const std::string summaryPath = folder.File("summary.json");
  const auto run = testing::RunCommand("ip netns exec " + pair_->client() + " " + PARLEX2_PATH +
                                       " --found --json " + summaryPath + " identify 2>&1");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.out.find("named twice"), std::string::npos) << run.out;
  std::ifstream in(summaryPath);
  const auto summary = nlohmann::json::parse(in, nullptr, false);
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
