// The upgrade command's dialogs for tests: the Proposed Operation list is
// recorded and answered with `accept`, and the worker runs on its own thread
// as the progress dialog runs it, `whileRunning` standing for the window's
// message loop meanwhile.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "common/shell_state.h"
#include "support/upgrade_support.h"
#include "upgrade/upgrade_command.h"

namespace parlex2::testing {

class RecordingFrontEnd final : public UpgradeFrontEnd {
 public:
  // `state`, when given, is the window's: whether it polled while the list
  // was shown is recorded.
  explicit RecordingFrontEnd(InstrumentLink& link, const ShellState* state = nullptr)
      : link_(link), state_(state) {}
  bool ShowFirmwareList(const FirmwareList& shown, const std::string&, bool blocked) override {
    for (const FirmwareListRow& row : shown.rows) listed += row.name + " ";
    listBlocked = blocked;
    if (state_) pollingDuringList = state_->pollingEnabled;
    return accept;
  }
  void RunProgress(UpgradeDescriptor& descriptor) override {
    UpgradeWorkerThread worker;
    ASSERT_TRUE(worker.Start(descriptor, link_, progress));
    while (whileRunning && !progress.Done()) whileRunning();
    worker.Join();
  }

  bool accept = true;
  std::function<void()> whileRunning;  // called over and over while the worker runs
  std::string listed;  // the file names of every list shown, each followed by a space
  bool listBlocked = false;
  bool pollingDuringList = true;
  RecordingProgress progress;

 private:
  InstrumentLink& link_;
  const ShellState* state_;
};

}  // namespace parlex2::testing
