// What the program's modal dialogs share: the dialog procedure that finds a
// dialog's state and keeps the dialog on top of the owner stack while it is
// open, and the heap-string protocol by which a worker thread sends a dialog
// text.
//
// Threads: everything runs on the UI thread except PostTextCommand, which a
// worker thread calls; the dialog takes the text back with TakePostedText in
// its WM_COMMAND handler, on the UI thread.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "win32_ui.h"

namespace parlex2::win32 {

// A modal dialog's state and message handler. The object lives on the stack of
// the function that shows the dialog and outlives it; Run passes it to the
// dialog procedure, which keeps it in DWLP_USER.
class ModalDialog {
 public:
  ModalDialog(const ModalDialog&) = delete;
  ModalDialog& operator=(const ModalDialog&) = delete;

  // Shows dialog template `templateId` modally over `owner` and returns the
  // value given to EndDialog (DialogBoxParam's 0 or -1 when the dialog could
  // not be made).
  INT_PTR Run(HWND owner, int templateId);

 protected:
  ModalDialog();
  ~ModalDialog();

  // The dialog procedure for every message from WM_INITDIALOG to WM_DESTROY,
  // both included; it returns what a dialog procedure returns. Over that span
  // the dialog owns the program's messages and file dialogs. Messages before
  // WM_INITDIALOG or after WM_DESTROY get the dialog manager's own handling.
  virtual INT_PTR OnMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) = 0;

 private:
  static INT_PTR CALLBACK Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  void LeaveOwners();

  Win32Ui& ui_;
  HWND dialog_ = nullptr;  // on the owner stack while set
};

// Worker side: posts WM_COMMAND `id` to `window` with a heap copy of `text` as
// its lParam. The receiver must call TakePostedText on that lParam. False when
// nothing was posted (no memory, or the post failed: the copy is freed here).
bool PostTextCommand(HWND window, int id, std::string text);

// UI side: takes over the text a PostTextCommand sent as `lParam` (null for a
// command that carries none).
std::unique_ptr<std::string> TakePostedText(LPARAM lParam);

}  // namespace parlex2::win32
