// Helpers of the firmware upgrade tests: a file finder over a fixed list and a
// descriptor read through it, an in-process simulated instrument behind a
// memory peer, a progress sink that records what the worker reported, and a
// run of the worker against that instrument.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "link/instrument_link.h"
#include "sim/flash.h"
#include "sim/instrument.h"
#include "sim/intel_hex.h"
#include "support/memory_transport.h"
#include "support/temp_folder.h"
#include "support/text_checks.h"
#include "upgrade/firmware_list.h"
#include "upgrade/upgrade_descriptor.h"
#include "upgrade/upgrade_worker.h"

namespace parlex2::testing {

// A firmware file of `records` data records of random bytes from `address`,
// with a comment line and an end record; `lineEnd` "\n" or "\r\n".
inline std::string HexFile(std::uint32_t seed, int records, std::uint16_t address,
                           const std::string& lineEnd = "\n") {
  std::mt19937 random(seed);
  std::string text = "; firmware\n";
  text += sim::MakeHexRecord(4, 0, std::string("\x00\x01", 2)) + lineEnd;
  for (int i = 0; i < records; ++i) {
    std::string data;
    for (int j = 0; j < 16; ++j) data.push_back(static_cast<char>(random()));
    text += sim::MakeHexRecord(0, static_cast<std::uint16_t>(address + 16 * i), data) + lineEnd;
  }
  return text + sim::MakeHexRecord(1, 0, "") + lineEnd;
}

// A flash as an upgrade leaves it: for each (sector, erases, firmware file's
// text) the sector erased that many times, then the file's records
// programmed, in the order given. None when a file does not read, or writes
// where the flash already holds a byte since the sector's last erase.
inline std::optional<sim::Flash> FlashAfter(
    const std::vector<std::tuple<int, int, std::string>>& writes) {
  sim::Flash flash;
  for (const auto& [sector, erases, hexText] : writes) {
    for (int i = 0; i < erases; ++i) flash.Erase(sector);
    std::map<std::uint32_t, std::uint8_t> image;
    if (!sim::HexFileImage(hexText, image)) return std::nullopt;
    for (const auto& [address, byte] : image) {
      if (!flash.Program(sector, address, std::string(1, static_cast<char>(byte))))
        return std::nullopt;
    }
  }
  return flash;
}

// Finds exactly the paths it was given.
class ListFinder final : public FileFinder {
 public:
  void Add(const std::string& path) {
    FileInfo info;
    const std::size_t slash = path.find_last_of("/\\");
    info.name = slash == std::string::npos ? path : path.substr(slash + 1);
    files_[path] = info;
  }
  std::optional<FileInfo> Find(const std::string& path, std::string* foundPath) override {
    auto it = files_.find(path);
    if (it == files_.end()) return std::nullopt;
    if (foundPath) *foundPath = path;
    return it->second;
  }

 private:
  std::map<std::string, FileInfo> files_;
};

// The folder descriptors are read from when only a ListFinder looks there.
#ifdef _WIN32
inline constexpr char kBenchDir[] = "C:\\fw\\";
#else
inline constexpr char kBenchDir[] = "/fw/";
#endif

// A descriptor read as if from kBenchDir, where a.hex to d.hex are found.
struct ParsedDescriptor {
  int result = 0;
  UpgradeDescriptor d;
  LoadTable tables[2];
  bool blocked = false;
};
inline std::unique_ptr<ParsedDescriptor> Parse(const std::string& text) {
  auto p = std::make_unique<ParsedDescriptor>();
  ListFinder finder;
  for (const char* name : {"a.hex", "b.hex", "c.hex", "d.hex"})
    finder.Add(std::string(kBenchDir) + name);
  p->result = ParseUpgradeDescriptorText(text, std::string(kBenchDir) + "set.upg", finder,
                                         p->tables, kLoadTableCapacity, p->d, p->blocked);
  return p;
}

// The simulator's instrument answering through a memory peer, byte for byte
// as it would over a connection.
struct SimulatedInstrument {
  explicit SimulatedInstrument(sim::InstrumentConfig config = {})
      : instrument(std::make_shared<sim::Instrument>(std::move(config))),
        peer(std::make_shared<MemoryPeer>()) {
    peer->respond = [device = instrument](MemoryPeer& p, const std::string& bytes) {
      p.Queue(device->Receive(bytes).send);
    };
  }
  void Attach(InstrumentLink& link) const { UseMemoryPeer(link, peer); }

  std::shared_ptr<sim::Instrument> instrument;
  std::shared_ptr<MemoryPeer> peer;
};

// Records every report; safe to read after the worker was joined.
class RecordingProgress final : public UpgradeProgress {
 public:
  void Status(std::string text) override { Add(statuses, std::move(text)); }
  void Progress(int percent) override { Add(percents, percent); }
  void Log(std::string text) override { Add(logs, std::move(text)); }
  void Finished() override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++finished;
  }
  // Whether Finished came; safe while the worker runs.
  bool Done() {
    std::lock_guard<std::mutex> lock(mutex_);
    return finished > 0;
  }
  void Sending(bool active) override {
    std::lock_guard<std::mutex> lock(mutex_);
    sending.push_back(active);
    if (!active) logsWhenSendingEnded = logs.size();
  }

  std::vector<std::string> statuses;
  std::vector<int> percents;
  std::vector<std::string> logs;
  int finished = 0;
  std::vector<bool> sending;  // each Sending call
  std::size_t logsWhenSendingEnded = 0;

 private:
  template <typename T>
  void Add(std::vector<T>& list, T item) {
    std::lock_guard<std::mutex> lock(mutex_);
    list.push_back(std::move(item));
  }
  std::mutex mutex_;
};

// The worker against a SimulatedInstrument over a link opened as `kind`: the
// entries' files are written into `folder`, and the entries listed as for
// serial 150 of the VXM86 family before the run.
struct WorkerRun {
  explicit WorkerRun(const TempFolder& folder, sim::InstrumentConfig config = {},
                     InterfaceKind kind = InterfaceKind::Usb)
      : folder(folder), device(std::move(config)) {
    device.Attach(link);
    link.settings.interfaceKind = kind;
    opened = link.Open() == 0;
    descriptor.loadTable = &table;
  }
  // The next entry: `bytes` written as the file `name`, found, for `sector`.
  LoadEntry& Add(int sector, const std::string& name, const std::string& bytes, bool over = false) {
    LoadEntry& e = table.entries[count++];
    e.path = folder.Write(name, bytes);
    e.sector = sector;
    e.over = over;
    e.found = true;
    e.fileInfo.name = name;
    e.fileInfo.size = static_cast<std::uint32_t>(bytes.size());
    return e;
  }
  // Lists the entries and runs the worker; Sent() is then what it sent.
  void Run() {
    bool blocked = false;
    BuildFirmwareList(table, count, "Veltmark,VXM86,150,1", "VXM86", blocked);
    device.peer->written.clear();
    RunUpgradeWorker(descriptor, link, progress);
  }
  const sim::Flash& Flash() const { return device.instrument->GetFlash(); }
  std::string Sent() const { return device.peer->written; }

  const TempFolder& folder;
  SimulatedInstrument device;
  InstrumentLink link;
  bool opened = false;
  LoadTable table;
  int count = 0;
  UpgradeDescriptor descriptor;
  RecordingProgress progress;
};

}  // namespace parlex2::testing

namespace parlex2::sim {

// A flash that differs from the one expected is shown as its dump.
inline void PrintTo(const Flash& flash, std::ostream* out) { *out << flash.Dump(); }

}  // namespace parlex2::sim
