// What the core needs from whoever shows things to the user. The Windows front
// end answers with message boxes, the wait cursor and common dialogs; the
// command line with the terminal; tests with a recording fake.
//
// Called on the UI thread, except where a caller documents otherwise (the comms
// log may call ShowMessage from the upgrade worker while the UI thread leaves
// the link alone).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace parlex2 {

enum class MessageIcon { None, Information, Warning, Error, Question };
enum class MessageButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MessageAnswer { Ok, Cancel, Yes, No };

struct FileDialogOptions {
  std::string title;          // empty: the system's default title
  std::string filterName;     // e.g. "Text File *.txt"
  std::string filterPattern;  // e.g. "*.txt"
  // Further filters after the first, as name and pattern.
  std::vector<std::pair<std::string, std::string>> moreFilters;
  std::string defaultExtension;
  std::string initialName;
  bool confirmOverwrite = false;
};

// A file chosen in a save dialog with the file type chosen beside it: the
// number of the filter from 1 (filterName's is 1, moreFilters follow).
struct SaveFileChoice {
  std::string path;
  int fileType = 1;
};

class UserInterface {
 public:
  virtual ~UserInterface() = default;

  // Shows `text` with `caption` and waits for the answer. `owned` is false for
  // the few messages shown without an owner window.
  virtual MessageAnswer ShowMessage(std::string_view text, std::string_view caption,
                                    MessageIcon icon, MessageButtons buttons,
                                    bool owned = true) = 0;

  // The wait cursor; use ScopedWaitCursor rather than these.
  virtual void BeginWait() {}
  virtual void EndWait() {}

  // The path the user chose, or nothing when cancelled.
  virtual std::optional<std::string> ChooseFileToOpen(const FileDialogOptions&) {
    return std::nullopt;
  }
  virtual std::optional<std::string> ChooseFileToSave(const FileDialogOptions&) {
    return std::nullopt;
  }
  // The same dialog, telling also which file type was chosen; a front end
  // whose dialog has no file types reports the first.
  virtual std::optional<SaveFileChoice> ChooseFileAndTypeToSave(const FileDialogOptions& options) {
    std::optional<std::string> path = ChooseFileToSave(options);
    if (!path) return std::nullopt;
    return SaveFileChoice{std::move(*path), 1};
  }
};

// Shows the wait cursor for its lifetime, on every path out of a scope.
class ScopedWaitCursor {
 public:
  explicit ScopedWaitCursor(UserInterface& ui) : ui_(ui) { ui_.BeginWait(); }
  ~ScopedWaitCursor() { ui_.EndWait(); }
  ScopedWaitCursor(const ScopedWaitCursor&) = delete;
  ScopedWaitCursor& operator=(const ScopedWaitCursor&) = delete;

 private:
  UserInterface& ui_;
};

}  // namespace parlex2
