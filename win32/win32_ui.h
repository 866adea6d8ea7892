// The core's view of the user on Windows: message boxes owned by the main
// window or by the modal dialog open over it, the wait cursor, and the open and
// save-as dialogs. UI thread only; the comms log may also ask from the upgrade
// worker, with an owner-less box.
#pragma once

#include <windows.h>

#include <string>

#include "common/owner_stack.h"
#include "common/ui.h"

namespace parlex2::win32 {

class Win32Ui final : public UserInterface {
 public:
  // The owner when no dialog is open: the main window.
  void SetOwner(HWND owner) { owners_.SetBase(owner); }
  // A modal dialog owns what is shown while it is open; ModalDialog pushes
  // and pops it.
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

// Appends `text` at the end of edit control `edit` (one selection and one
// replacement, whatever the length: each append costs a redraw).
void AppendToEdit(HWND edit, const std::string& text);

}  // namespace parlex2::win32
