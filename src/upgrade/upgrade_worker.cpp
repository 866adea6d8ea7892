#include "upgrade/upgrade_worker.h"

#include <cstdio>
#include <system_error>
#include <vector>

#include "common/text.h"
#include "link/instrument_link.h"
#include "upgrade/boot_protocol.h"

namespace parlex2 {
namespace {

std::string Formatted(const char* format, int number) {
  char text[96];
  std::snprintf(text, sizeof text, format, number);
  return text;
}

std::string Formatted(const char* format, const std::string& name) {
  return std::string(format, std::string_view(format).find("%s")) + name;
}

bool SendByte(InstrumentLink& link, char byte) {
  return link.Send(std::string_view(&byte, 1)) >= 0;
}

// Reports progress only when the percentage moves.
class ProgressReporter {
 public:
  explicit ProgressReporter(UpgradeProgress& progress) : progress_(progress) {}
  void Set(int percent) {
    if (percent == last_) return;
    last_ = percent;
    progress_.Progress(percent);
  }

 private:
  UpgradeProgress& progress_;
  int last_ = -1;
};

bool Works(const LoadEntry& entry) { return entry.listed && entry.found; }

// Sends one file's records into `sector`; false when the file could not be
// read, the sector not selected, or a record was refused kRecordSends times.
bool SendFile(InstrumentLink& link, const LoadEntry& entry, std::int32_t total, std::int32_t& done,
              ProgressReporter& progress) {
  std::string bytes;
  if (!ReadWholeFile(entry.path, bytes)) return false;
  if (ExchangeSectorCode(link, entry.sector)) return false;
  TextModeReader reader(std::move(bytes));
  std::string line;
  while (reader.ReadLine(line, kRecordLineLimit)) {
    const std::string_view text = UntilNul(line);
    done += static_cast<std::int32_t>(text.size());
    if (!text.empty() && text[0] == ':') {
      std::string record(text);
      record += kRecordEnd;
      bool accepted = false;
      for (int send = 0; send < kRecordSends && !accepted; ++send) {
        accepted = !ExchangeCode(link, record);
      }
      if (!accepted) return false;
    }
    progress.Set(PercentDone(total, done));
  }
  return true;
}

void Run(UpgradeDescriptor& d, InstrumentLink& link, UpgradeProgress& progress) {
  ProgressReporter percent(progress);
  if (!d.loadTable) return;
  auto& entries = d.loadTable->entries;

  // The sectors, each once in table order, and the bytes to send.
  const std::vector<SectorPlan> sectors = PlanSectors(*d.loadTable, Works);
  std::int64_t total = 0;
  for (const LoadEntry& entry : entries) {
    if (Works(entry)) total += entry.fileInfo.size;
  }
  if (total > INT32_MAX) total = INT32_MAX;

  // Nothing to write: the boot loader is not woken, nor the instrument
  // restarted, for an upgrade that would change nothing.
  if (sectors.empty()) {
    progress.Log("ERROR: No firmware file to send");
    return;
  }
  // A sector without an access code cannot be selected: refuse before the
  // instrument is touched rather than fail half-way with sectors erased.
  for (const SectorPlan& s : sectors) {
    if (SectorCode(s.sector).empty()) {
      progress.Log(Formatted("ERROR: Sector %d cannot be written (no access code)", s.sector));
      return;
    }
  }

  progress.Status("Initialising Instrument");
  link.Drain(kWakeSettleBeforeMs);
  SendByte(link, kBootWakeByte);
  link.Drain(kWakeSettleAfterMs);
  const bool initialised =
      !ExchangeCode(link, kBootAccessCode) || !ExchangeCode(link, kBootAccessCode);
  progress.Log(initialised ? "Instrument initialised OK"
                           : "ERROR: Instrument failed to initialise");
  percent.Set(0);
  if (!initialised) return;

  const int n = static_cast<int>(sectors.size());
  for (int i = 1; i <= n; ++i) {
    const int sector = sectors[static_cast<std::size_t>(i - 1)].sector;
    const bool skip = !sectors[static_cast<std::size_t>(i - 1)].erase;
    progress.Status(Formatted(skip ? "Skipping sector %d" : "Erasing sector %d", sector));
    percent.Set(PercentDone(n, i));
    if (skip) continue;
    char reply[kBootReplySize] = {};
    bool failed = ExchangeSectorCode(link, sector);
    if (!failed) {
      link.Send(kEraseCommand);
      failed = link.ReadLine(reply, sizeof reply) <= 0 || !IsOkReply(UntilNul(reply));
    }
    if (failed) {
      progress.Log(Formatted("ERROR: Failed to erase sector %d", sector));
      return;
    }
  }
  progress.Log("All sectors erased OK");
  percent.Set(0);

  std::int32_t done = 0;
  progress.Sending(true);
  for (const LoadEntry& entry : entries) {
    if (!Works(entry)) continue;
    progress.Status(Formatted("Sending file %s", entry.fileInfo.name));
    if (!SendFile(link, entry, static_cast<std::int32_t>(total), done, percent)) {
      progress.Sending(false);
      progress.Log(Formatted("ERROR: Failed to send file %s", entry.fileInfo.name));
      return;
    }
  }
  percent.Set(100);
  progress.Sending(false);
  progress.Log("Firmware sent OK");

  progress.Status("Restarting Instrument");
  link.Send(kRestartCommand);
  link.Drain(kRestartSettleMs);
  SendByte(link, kRestartByte);
  link.Drain(kRestartByteSettleMs);
  progress.Status("Finished");
  d.upgradeSucceeded = true;
}

}  // namespace

int PercentDone(std::int32_t total, std::int32_t done) {
  if (total <= 0) return 100;
  if (done < 0) done = 0;
  std::int32_t percent;
  if (done <= 20000000) {
    percent = done * 100 / total + 1;
  } else {
    const std::int32_t hundredth = total / 100;
    percent = hundredth == 0 ? 100 : done / hundredth + 1;
  }
  return percent > 100 ? 100 : percent;
}

bool ExchangeCode(InstrumentLink& link, std::string_view text) {
  char reply[kBootReplySize] = {};
  link.Send(text);
  if (link.ReadLine(reply, sizeof reply) <= 0) return true;
  return !IsOkReply(UntilNul(std::string_view(reply, sizeof reply)));
}

bool ExchangeSectorCode(InstrumentLink& link, int sector) {
  const std::string_view code = SectorCode(sector);
  if (code.empty()) return true;
  return ExchangeCode(link, code);
}

bool TextModeReader::ReadLine(std::string& line, std::size_t limit) {
  line.clear();
  while (line.size() < limit && at_ < bytes_.size()) {
    char c = bytes_[at_];
    if (c == '\x1a') {
      at_ = bytes_.size();
      break;
    }
    ++at_;
    if (c == '\r' && at_ < bytes_.size() && bytes_[at_] == '\n') {
      c = '\n';
      ++at_;
    }
    line.push_back(c);
    if (c == '\n') break;
  }
  return !line.empty();
}

void RunUpgradeWorker(UpgradeDescriptor& descriptor, InstrumentLink& link,
                      UpgradeProgress& progress) {
  Run(descriptor, link, progress);
  progress.Finished();
}

bool UpgradeWorkerThread::Start(UpgradeDescriptor& descriptor, InstrumentLink& link,
                                UpgradeProgress& progress) {
  if (thread_.joinable() || !link.leased()) return false;
  try {
    thread_ = std::thread(
        [&descriptor, &link, &progress] { RunUpgradeWorker(descriptor, link, progress); });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void UpgradeWorkerThread::Join() {
  if (thread_.joinable()) thread_.join();
}

}  // namespace parlex2
