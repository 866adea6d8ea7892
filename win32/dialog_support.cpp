#include "dialog_support.h"

#include <new>
#include <utility>

#include "application.h"

namespace parlex2::win32 {

ModalDialog::ModalDialog() : ui_(App().ui) {}

// The dialog is gone by now; this only matters if WM_DESTROY never came.
ModalDialog::~ModalDialog() { LeaveOwners(); }

INT_PTR ModalDialog::Run(HWND owner, int templateId) {
  return DialogBoxParamA(App().instance, MAKEINTRESOURCEA(templateId), owner, Procedure,
                         reinterpret_cast<LPARAM>(this));
}

void ModalDialog::LeaveOwners() {
  if (dialog_) ui_.PopOwner(dialog_);
  dialog_ = nullptr;
}

INT_PTR CALLBACK ModalDialog::Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<ModalDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<ModalDialog*>(lParam);
    SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    self->dialog_ = dialog;
    self->ui_.PushOwner(dialog);
  }
  if (!self) return FALSE;
  const INT_PTR result = self->OnMessage(dialog, message, wParam, lParam);
  if (message == WM_DESTROY) {
    self->LeaveOwners();
    SetWindowLongPtrA(dialog, DWLP_USER, 0);
  }
  return result;
}

bool PostTextCommand(HWND window, int id, std::string text) {
  std::unique_ptr<std::string> copy;
  try {
    copy = std::make_unique<std::string>(std::move(text));
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (!PostMessageA(window, WM_COMMAND, static_cast<WPARAM>(id),
                    reinterpret_cast<LPARAM>(copy.get()))) {
    return false;
  }
  static_cast<void>(copy.release());  // TakePostedText on the UI thread frees it
  return true;
}

std::unique_ptr<std::string> TakePostedText(LPARAM lParam) {
  return std::unique_ptr<std::string>(reinterpret_cast<std::string*>(lParam));
}

}  // namespace parlex2::win32
