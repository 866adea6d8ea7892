// A shell host that keeps the results pane and the script list in memory and
// queues posted commands, for front ends without real controls (the command
// line, tests). What it cannot know (the beep, sending, messages) is left to
// the front end.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "script/shell_host.h"

namespace parlex2 {

struct PostedCommand {
  int id = 0;
  int mark = 0;
};

class BufferedShellHost : public ShellHost {
 public:
  void AppendText(std::string_view text) override { results_.append(text); }
  std::string ResultsText() override { return results_; }
  void ClearResults() override { results_.clear(); }
  std::size_t ResultsLength() override { return results_.size(); }

  void ClearScriptList() override {
    lines_.clear();
    selection_ = -1;
  }
  void AddScriptLine(std::string_view line) override { lines_.emplace_back(line); }
  int ScriptLineCount() override { return static_cast<int>(lines_.size()); }
  std::string ScriptLine(int index) override {
    return index >= 0 && index < ScriptLineCount() ? lines_[static_cast<std::size_t>(index)]
                                                   : std::string();
  }
  int ScriptSelection() override { return selection_; }
  void SelectScriptLine(int index) override {
    selection_ = index >= 0 && index < ScriptLineCount() ? index : -1;
  }

  void PostCommand(int id, int mark = 0) override { posted_.push_back({id, mark}); }
  // The oldest posted command not yet handled.
  std::optional<PostedCommand> TakePosted() {
    if (posted_.empty()) return std::nullopt;
    PostedCommand command = posted_.front();
    posted_.pop_front();
    return command;
  }

 protected:
  std::string results_;
  std::vector<std::string> lines_;
  int selection_ = -1;
  std::deque<PostedCommand> posted_;
};

}  // namespace parlex2
