#include "about_dialog.h"

#include "application.h"
#include "common/product.h"
#include "resource.h"

namespace parlex2::win32 {
namespace {

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
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

}  // namespace

void ShowAboutBox(HWND owner) {
  DialogBoxParamA(App().instance, MAKEINTRESOURCEA(IDD_ABOUTBOX), owner, AboutProc, 0);
}

}  // namespace parlex2::win32
