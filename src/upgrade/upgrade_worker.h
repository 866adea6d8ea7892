// The upgrade worker: wakes the instrument's boot loader, erases the sectors
// of the accepted entries, programs their firmware files record by record and
// restarts the instrument. It runs on a thread of its own and is then the
// link's only user: it starts only while the link is leased (LinkLease, which
// the upgrade command holds), and its waits run on the link's clock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "upgrade/upgrade_descriptor.h"

namespace parlex2 {

class InstrumentLink;

// Where the worker reports. Every call comes on the worker's thread; each text
// is the receiver's own copy. Finished is the last call of every run.
class UpgradeProgress {
 public:
  virtual ~UpgradeProgress() = default;
  virtual void Status(std::string text) = 0;
  virtual void Progress(int percent) = 0;  // 0..100
  virtual void Log(std::string text) = 0;
  virtual void Finished() = 0;
  // The firmware records go out between Sending(true) and Sending(false). The
  // second comes however the sending ended, before the Log that says how.
  virtual void Sending(bool /*active*/) {}
};

// `done` of `total` as a percentage from 1 to 100 (rounded up by adding one,
// so work just begun shows); nothing to do counts as all done.
int PercentDone(std::int32_t total, std::int32_t done);

// Sends `text` and reads the reply; true when it FAILED (the reply, if any,
// does not end in "ok").
bool ExchangeCode(InstrumentLink& link, std::string_view text);

// ExchangeCode with the access code of `sector`; a sector without one fails
// without anything being sent.
bool ExchangeSectorCode(InstrumentLink& link, int sector);

// Reads a firmware file as the Windows C library's text mode does: CR LF
// becomes LF, a lone CR stays, and the byte 0x1A ends the file. So a record
// reaches the instrument with the same bytes on every platform.
class TextModeReader {
 public:
  explicit TextModeReader(std::string bytes) : bytes_(std::move(bytes)) {}
  // The next line of at most `limit` characters, keeping its line feed; a
  // longer line comes in pieces. False at the end.
  bool ReadLine(std::string& line, std::size_t limit);

 private:
  std::string bytes_;
  std::size_t at_ = 0;
};

// The longest piece of a file line read at once.
inline constexpr std::size_t kRecordLineLimit = 510;

// The whole run over `descriptor.loadTable`: only entries the list showed
// (`listed`) and whose file was found are erased for (as PlanSectors says)
// and programmed; with none, nothing is sent at all. Sets `upgradeSucceeded`
// after the restart, and always ends with Finished.
void RunUpgradeWorker(UpgradeDescriptor& descriptor, InstrumentLink& link,
                      UpgradeProgress& progress);

// The worker on its own thread. Join waits for it (the destructor too).
class UpgradeWorkerThread {
 public:
  ~UpgradeWorkerThread() { Join(); }
  // False when the thread could not be started, or the link is not leased
  // (nothing was sent).
  bool Start(UpgradeDescriptor& descriptor, InstrumentLink& link, UpgradeProgress& progress);
  void Join();

 private:
  std::thread thread_;
};

}  // namespace parlex2
