// The record a script run leaves: what it ran against, every test line that
// ran with its value, limits and verdict, how the run ended, and the results
// pane's text. The script engine fills it as the run goes; the front ends
// write it as a JUnit XML or JSON report (test_report.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/clock.h"

namespace parlex2 {

// The identity read when the connection was made; an empty field was not in
// the instrument's replies.
struct InstrumentIdentity {
  std::string model;
  std::string serialNumber;
  std::string type;
  std::string mainRelease;
  std::string fpgaRelease;
  std::string dspRelease;
  std::string bootRelease;
};

struct TestRecord {
  std::string name;       // the nearest comment line above the test, or "line N"
  int line = 0;           // the line of the script file, from 1
  std::string condition;  // "hi", "lo", "out", "in"; "reply" for a failed reading
  double value = 0.0;     // x; NaN when there is none
  double lower = 0.0;     // the limits the condition used; NaN when unused
  double upper = 0.0;
  bool passed = true;
  std::string reason;  // why it did not pass; empty when it passed
  LocalTime time;      // when it ran
  std::uint64_t tickMs = 0;
};

enum class RunStatus {
  Running,         // lines are still to run (or the report was asked for mid-run)
  Passed,          // ran to its end with no failed test
  Failed,          // a test failed (stopped at it, or counted by the end)
  Stopped,         // paused at a #wait, by the user's Stop or between steps
  ConnectionLost,  // a read from the instrument failed while it ran
  SendFailed,      // a command could not be sent
};

// The name a report gives the status: "running", "passed", "failed",
// "stopped", "connection_lost", "send_failed".
const char* RunStatusName(RunStatus status);

struct RunRecord {
  std::string script;  // the script file's path as given
  std::optional<InstrumentIdentity> instrument;
  LocalTime started;
  std::optional<LocalTime> finished;  // none while it runs
  std::uint64_t startTickMs = 0;
  std::uint64_t finishTickMs = 0;
  RunStatus status = RunStatus::Running;
  bool connectionLost = false;  // a read failed while it ran
  std::vector<TestRecord> tests;
  std::string transcript;  // the results pane's text when the report was made

  int FailedTests() const;
};

}  // namespace parlex2
