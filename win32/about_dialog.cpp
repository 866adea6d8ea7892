#include "about_dialog.h"

#include "common/product.h"
#include "dialog_support.h"
#include "resource.h"

namespace parlex2::win32 {
namespace {

class AboutBox final : public ModalDialog {
  INT_PTR OnMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM) override {
    switch (message) {
      case WM_INITDIALOG:
        SetDlgItemTextA(dialog, IDC_ABOUT_PRODUCT, kProductName);
        SetDlgItemTextA(dialog, IDC_ABOUT_VERSION, kVersionString);
        return TRUE;  // the dialog manager places the focus
      case WM_COMMAND:
        // Cancel also comes from Escape and the close box.
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
          EndDialog(dialog, LOWORD(wParam));
          return TRUE;
        }
        break;
    }
    return FALSE;
  }
};

}  // namespace

void ShowAboutBox(HWND owner) { AboutBox().Run(owner, IDD_ABOUTBOX); }

}  // namespace parlex2::win32
