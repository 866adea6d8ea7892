// The terminal's memory of sent commands: 50 slots filled from the first,
// the oldest dropped when full, and an index that Up and Down move around
// the filled slots (past the oldest to the newest and back round).
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace parlex2 {

class CommandHistory {
 public:
  static constexpr int kSlots = 50;

  // Stores a sent command in the first empty slot, or, when all are full,
  // drops the oldest and stores it last. It becomes the current one.
  void Store(std::string_view command);

  // Up: the command before the current one (the newest after the oldest).
  // Nothing when the history is empty.
  std::optional<std::string> Previous();
  // Down: the command after the current one (the oldest after the newest).
  std::optional<std::string> Next();

  int index() const { return index_; }
  const std::string& Slot(int slot) const { return slots_[static_cast<std::size_t>(slot)]; }

 private:
  std::optional<std::string> Current() const;

  std::array<std::string, kSlots> slots_;  // empty: a free slot
  int index_ = 0;
};

// The command a click on a results-pane line brings back: for an echo line
// ("> command", or "HH:MM:SS.mmm > command" when it was written with time
// stamps on), the text after "> " up to the line's end, at most 256
// characters; empty for any other line. `lineStart` is the offset of the
// clicked line's first character in `text`.
std::string RecallFromLine(std::string_view text, std::size_t lineStart);

}  // namespace parlex2
