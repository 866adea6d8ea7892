// The core's view of the user on Windows: message boxes owned by the main
// window, the wait cursor, and the open and save-as dialogs. UI thread only;
// the comms log may also ask from the upgrade worker, with an owner-less box.
#pragma once

#include <windows.h>

#include "common/ui.h"

namespace parlex2::win32 {

class Win32Ui final : public UserInterface {
 public:
  void SetOwner(HWND owner) { owner_ = owner; }

  MessageAnswer ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon,
                            MessageButtons buttons, bool owned) override;
  void BeginWait() override;
  void EndWait() override;
  std::optional<std::string> ChooseFileToOpen(const FileDialogOptions& options) override;
  std::optional<std::string> ChooseFileToSave(const FileDialogOptions& options) override;

 private:
  std::optional<std::string> RunFileDialog(const FileDialogOptions& options, bool save);

  HWND owner_ = nullptr;
  int waitDepth_ = 0;
  HCURSOR restoreCursor_ = nullptr;
};

}  // namespace parlex2::win32
