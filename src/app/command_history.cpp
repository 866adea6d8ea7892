#include "app/command_history.h"

#include <algorithm>

#include "common/clock.h"

namespace parlex2 {
namespace {

constexpr std::size_t kCommandMax = 256;  // the command box's limit

}  // namespace

void CommandHistory::Store(std::string_view command) {
  for (int slot = 0; slot < kSlots; ++slot) {
    auto& text = slots_[static_cast<std::size_t>(slot)];
    if (text.empty()) {
      text = command;
      index_ = slot;
      return;
    }
  }
  std::move(slots_.begin() + 1, slots_.end(), slots_.begin());
  slots_.back() = command;
  index_ = kSlots - 1;
}

std::optional<std::string> CommandHistory::Previous() {
  --index_;
  if (index_ < 0) {
    index_ = -1;
    for (int slot = kSlots - 1; slot >= 0; --slot) {
      if (!slots_[static_cast<std::size_t>(slot)].empty()) {
        index_ = slot;
        break;
      }
    }
  }
  return Current();
}

std::optional<std::string> CommandHistory::Next() {
  ++index_;
  if (index_ >= kSlots || slots_[static_cast<std::size_t>(index_)].empty()) index_ = 0;
  return Current();
}

std::optional<std::string> CommandHistory::Current() const {
  if (index_ < 0 || index_ >= kSlots) return std::nullopt;
  const std::string& text = slots_[static_cast<std::size_t>(index_)];
  if (text.empty()) return std::nullopt;
  return text;
}

std::string RecallFromLine(std::string_view text, std::size_t lineStart) {
  if (lineStart < text.size() && StartsWithLineTimeStamp(text.substr(lineStart))) {
    lineStart += kLineTimeStampLength;  // an echo written with time stamps on
  }
  if (lineStart >= text.size() || text[lineStart] != '>') return {};
  const std::size_t from = lineStart + 2;
  if (from >= text.size()) return {};
  std::size_t end = text.find_first_of("\r\n", from);
  if (end == std::string_view::npos) end = text.size();
  return std::string(text.substr(from, std::min(end - from, kCommandMax)));
}

}  // namespace parlex2
