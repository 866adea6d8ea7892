// Runs parlex2-sim for integration tests: starts it with given options in a
// scratch directory of its own (transcript and flash files included), waits
// for its ready line, stops it with SIGTERM, and reads what it wrote. POSIX
// only.
//
//   Simulator sim(PARLEX2_SIM_PATH);
//   ASSERT_TRUE(sim.Start({"--tcp", "127.0.0.23:10001", "--delay", "50"}));
//   ... parlex2 --lan 127.0.0.23 identify ...
//   ASSERT_TRUE(sim.Stop());
//   EXPECT_EQ(sim.Received(), "*IDN?\n");
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "sim/flash.h"
#include "temp_folder.h"

namespace parlex2::testing {

class Simulator {
 public:
  explicit Simulator(std::string program);
  ~Simulator();  // stops a running simulator and removes the scratch directory
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Starts the simulator with `options` (its own command line; --transcript
  // and --flash are added, files in the scratch directory) and waits up to
  // 10 s for "ready".
  // False, with the reason in `error`, when it exited or never got ready.
  // The simulator is killed when the thread that started it ends, so a test
  // killed before it could stop it leaves nothing running: start it from the
  // test's own thread.
  bool Start(const std::vector<std::string>& options, std::string* error = nullptr);

  // Sends SIGTERM (or `signal`) and waits for the exit. True when it exited
  // with status 0.
  bool Stop(int signal = 15);

  // Waits at most `timeoutMs` for the simulator to end by itself: its exit
  // status (-1 for a signal), or nothing while it still runs.
  std::optional<int> WaitExit(int timeoutMs);

  pid_t Pid() const { return pid_; }
  bool Running() const { return pid_ > 0; }
  // What it printed: its endpoints, e.g. "tcp 127.0.0.5:10001" or
  // "pty /dev/pts/4 /tmp/x/com7", then "ready" (and a pty's when made anew).
  std::string Output() const;

  std::string TranscriptText() const;
  // Every byte the client sent, and every byte the simulator sent, in order.
  std::string Received() const;
  std::string Sent() const;
  // The flash file (written after each boot loader restart and at exit).
  std::optional<sim::Flash> ReadFlash() const;

 private:
  std::string Bytes(bool received) const;

  std::string program_;
  TempFolder directory_{"parlex2-sim"};
  pid_t pid_ = -1;
};

}  // namespace parlex2::testing
