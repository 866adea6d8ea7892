#include "boot_loader.h"

#include <optional>

namespace parlex2::sim {

int SectorOfCode(std::string_view line) {
  for (std::size_t i = 0; i < kSectorCodes.size(); ++i) {
    if (line == kSectorCodes[i]) return static_cast<int>(i);
  }
  return -1;
}

BootLoader::BootLoader(Flash& flash, BootLoaderConfig config)
    : flash_(flash), config_(std::move(config)) {}

void BootLoader::Start() {
  DropPartialLine();
  unlocked_ = false;
  sector_ = -1;
  addressBase_ = {};
  restartPending_ = false;
  recordNumber_ = 0;
  refusedTimes_ = 0;
  lastRefusedRecord_.clear();
}

BootLoader::Step BootLoader::Ok() const {
  Step step;
  step.event = Event::kReply;
  step.lineTaken = true;
  step.reply = config_.ok;
  return step;
}

BootLoader::Step BootLoader::Refuse(std::string_view why) {
  Step step;
  step.event = Event::kReply;
  step.lineTaken = true;
  step.reply = "ERR ";
  step.reply += why;
  return step;
}

BootLoader::Step BootLoader::Feed(unsigned char byte) {
  if (byte == 0x00 || byte == 0x14) return {};
  if (byte == static_cast<unsigned char>(kRestartByte)) {
    if (!restartPending_ || !line_.empty()) return {};
    restartPending_ = false;
    Step step;
    step.event = Event::kRestarted;
    return step;
  }
  const bool inRecord = !line_.empty() && line_[0] == ':';
  if (byte == 'x' && line_.empty()) return Erase();
  // A record ends at the carriage return the upgrade appends; the record's own
  // line feed before it stays in the line. Commands end at their line feed.
  const bool ends = inRecord ? byte == '\r' : byte == '\n';
  if (!ends) {
    if (!inRecord && byte == '\r') return {};
    if (line_.size() < kLineLimit) {
      line_.push_back(static_cast<char>(byte));
    } else {
      overflow_ = true;
    }
    return {};
  }
  std::string line;
  line.swap(line_);
  const bool overflow = overflow_;
  overflow_ = false;
  if (line.empty()) return {};
  if (overflow) return Refuse("line too long");
  if (line[0] == ':') return Record(line);
  return Command(line);
}

BootLoader::Step BootLoader::Command(const std::string& line) {
  if (line == kBootAccessCode) {
    unlocked_ = true;
    return Ok();
  }
  if (line == "z") {
    restartPending_ = true;
    Step step;
    step.event = Event::kRestartRequested;
    step.lineTaken = true;
    return step;
  }
  if (!unlocked_) return Refuse("locked");
  int sector = SectorOfCode(line);
  if (sector < 0) return Refuse("unknown command");
  sector_ = sector;
  addressBase_ = {};
  return Ok();
}

BootLoader::Step BootLoader::Erase() {
  if (!unlocked_) return Refuse("locked");
  if (sector_ < 0) return Refuse("no sector");
  flash_.Erase(sector_);
  return Ok();
}

BootLoader::Step BootLoader::Record(std::string_view line) {
  if (line != lastRefusedRecord_) {
    ++recordNumber_;
    refusedTimes_ = 0;
  }
  lastRefusedRecord_.assign(line);
  for (const RecordRefusal& refusal : config_.refusals) {
    if (refusal.record == recordNumber_ && refusedTimes_ < refusal.times) {
      ++refusedTimes_;
      return Refuse("retry");
    }
  }
  if (!unlocked_) return Refuse("locked");
  if (sector_ < 0) return Refuse("no sector");
  // The record's own line feed, when the file line had one.
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  HexError error = HexError::kNone;
  std::optional<HexRecord> record = ParseHexRecord(line, &error);
  if (!record) return Refuse(HexErrorText(error));
  if (record->type == static_cast<std::uint8_t>(HexRecordType::kData)) {
    if (!flash_.Program(sector_, addressBase_.AddressOf(*record, 0), record->data)) {
      return Refuse("not erased");
    }
  } else {
    addressBase_.Apply(*record);
  }
  lastRefusedRecord_.clear();
  return Ok();
}

}  // namespace parlex2::sim
