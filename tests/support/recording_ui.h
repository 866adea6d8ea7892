// A front end for tests: records every message and answers from a queue.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/ui.h"

namespace parlex2::testing {

struct ShownMessage {
  std::string text;
  std::string caption;
  MessageIcon icon;
  MessageButtons buttons;
  bool owned;
};

class RecordingUi : public UserInterface {
 public:
  MessageAnswer ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon,
                            MessageButtons buttons, bool owned) override {
    messages.push_back({std::string(text), std::string(caption), icon, buttons, owned});
    if (whileShown) whileShown();
    if (!answers.empty()) {
      MessageAnswer answer = answers.front();
      answers.pop_front();
      return answer;
    }
    return buttons == MessageButtons::YesNo || buttons == MessageButtons::YesNoCancel
               ? MessageAnswer::Yes
               : MessageAnswer::Ok;
  }
  void BeginWait() override {
    ++waitDepth;
    ++waitCount;
  }
  void EndWait() override { --waitDepth; }
  std::optional<std::string> ChooseFileToOpen(const FileDialogOptions& options) override {
    openDialogs.push_back(options);
    return NextFile();
  }
  std::optional<std::string> ChooseFileToSave(const FileDialogOptions& options) override {
    saveDialogs.push_back(options);
    return NextFile();
  }

  std::vector<ShownMessage> messages;
  // Runs while a message is shown, as a modal loop runs other messages.
  std::function<void()> whileShown;
  std::deque<MessageAnswer> answers;
  std::deque<std::optional<std::string>> files;
  std::vector<FileDialogOptions> openDialogs, saveDialogs;
  int waitDepth = 0;
  int waitCount = 0;

 private:
  std::optional<std::string> NextFile() {
    if (files.empty()) return std::nullopt;
    auto file = files.front();
    files.pop_front();
    return file;
  }
};

}  // namespace parlex2::testing
