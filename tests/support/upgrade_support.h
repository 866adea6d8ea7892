// Helpers of the firmware upgrade tests: a scratch folder for firmware files,
// a file finder over a fixed list, an in-process simulated instrument behind
// a memory peer, and a progress sink that records what the worker reported.
#pragma once

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "link/instrument_link.h"
#include "sim/instrument.h"
#include "support/memory_transport.h"
#include "upgrade/upgrade_descriptor.h"
#include "upgrade/upgrade_worker.h"

namespace parlex2::testing {

// A folder of its own under the system's temporary folder, removed at the end.
class ScratchDir {
 public:
  ScratchDir() {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
      path_ = std::filesystem::temp_directory_path() /
              ("parlex2-upgrade-" + std::to_string(random()) + std::to_string(attempt));
      if (std::filesystem::create_directory(path_)) return;
    }
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // The folder with a trailing separator, as a descriptor's directory part is.
  std::string Prefix() const { return (path_ / "").string(); }
  std::string Write(const std::string& name, const std::string& bytes) const {
    const std::filesystem::path file = path_ / name;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
    return file.string();
  }

 private:
  std::filesystem::path path_;
};

// Finds exactly the paths it was given.
class ListFinder final : public FileFinder {
 public:
  void Add(const std::string& path, std::uint32_t size = 100, std::int64_t writeTime = 0) {
    FileInfo info;
    info.size = size;
    info.writeTime = writeTime;
    const std::size_t slash = path.find_last_of("/\\");
    info.name = slash == std::string::npos ? path : path.substr(slash + 1);
    files_[path] = info;
  }
  std::optional<FileInfo> Find(const std::string& path, std::string* foundPath) override {
    looked.push_back(path);
    auto it = files_.find(path);
    if (it == files_.end()) return std::nullopt;
    if (foundPath) *foundPath = path;
    return it->second;
  }
  std::vector<std::string> looked;

 private:
  std::map<std::string, FileInfo> files_;
};

// The simulator's instrument answering through a memory peer, byte for byte
// as it would over a connection.
struct SimulatedInstrument {
  explicit SimulatedInstrument(sim::InstrumentConfig config = {})
      : instrument(std::make_shared<sim::Instrument>(std::move(config))),
        peer(std::make_shared<MemoryPeer>()) {
    auto device = instrument;
    peer->respond = [device](MemoryPeer& p, const std::string& bytes) {
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
  void Progress(int percent) override {
    std::lock_guard<std::mutex> lock(mutex_);
    percents.push_back(percent);
  }
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
  void Add(std::vector<std::string>& list, std::string text) {
    std::lock_guard<std::mutex> lock(mutex_);
    list.push_back(std::move(text));
  }
  std::mutex mutex_;
};

}  // namespace parlex2::testing
