// The core's view of the user on Windows: message boxes owned by the main
// window or by the modal dialog open over it, the wait cursor, and the open and
// save-as dialogs. UI thread only; the comms log may also ask from the upgrade
// worker, with an owner-less box.
#pragma once

#include <windows.h>

#include "common/owner_stack.h"
#include "common/ui.h"

namespace parlex2::win32 {

class Win32Ui final : public UserInterface {
 public:
  // The owner when no dialog is open: the main window.
  void SetOwner(HWND owner) { owners_.SetBase(owner); }
  // A modal dialog owns what is shown while it is open; use ScopedDialogOwner.
  void PushOwner(HWND dialog) { owners_.Push(dialog); }
  void PopOwner(HWND dialog) { owners_.Remove(dialog); }
  HWND Owner() const { return owners_.Current(); }

  MessageAnswer ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon,
                            MessageButtons buttons, bool owned) override;
  void BeginWait() override;
  void EndWait() override;
  std::optional<std::string> ChooseFileToOpen(const FileDialogOptions& options) override;
  std::optional<std::string> ChooseFileToSave(const FileDialogOptions& options) override;
  std::optional<SaveFileChoice> ChooseFileAndTypeToSave(const FileDialogOptions& options) override;

 private:
  // The chosen path; `fileType`, when given, receives the chosen filter's
  // number (from 1).
  std::optional<std::string> RunFileDialog(const FileDialogOptions& options, bool save,
                                           int* fileType = nullptr);

  OwnerStack<HWND> owners_;
  int waitDepth_ = 0;
  HCURSOR restoreCursor_ = nullptr;
};

// Makes `dialog` the owner of messages and file dialogs from its
// WM_INITDIALOG until its WM_DESTROY: call Begin and End from those two.
class ScopedDialogOwner {
 public:
  explicit ScopedDialogOwner(Win32Ui& ui) : ui_(ui) {}
  ~ScopedDialogOwner() { End(); }
  ScopedDialogOwner(const ScopedDialogOwner&) = delete;
  ScopedDialogOwner& operator=(const ScopedDialogOwner&) = delete;
  void Begin(HWND dialog) {
    End();
    dialog_ = dialog;
    ui_.PushOwner(dialog);
  }
  void End() {
    if (dialog_) ui_.PopOwner(dialog_);
    dialog_ = nullptr;
  }

 private:
  Win32Ui& ui_;
  HWND dialog_ = nullptr;
};

}  // namespace parlex2::win32
