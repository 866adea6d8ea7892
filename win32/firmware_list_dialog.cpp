#include "firmware_list_dialog.h"

#include <richedit.h>

#include <cstring>

#include "application.h"
#include "resource.h"

namespace parlex2::win32 {
namespace {

struct ListDialogState {
  ListDialogState(Win32Ui& ui, const std::string& text, bool blocked)
      : owner(ui), rtf(text), acceptBlocked(blocked) {}
  ScopedDialogOwner owner;
  const std::string& rtf;
  bool acceptBlocked;
  std::size_t streamed = 0;
};

// Hands the document to the rich edit in pieces, as EM_STREAMIN asks for it.
DWORD CALLBACK StreamRtf(DWORD_PTR cookie, LPBYTE buffer, LONG size, LONG* done) {
  auto* state = reinterpret_cast<ListDialogState*>(cookie);
  const std::size_t left = state->rtf.size() - state->streamed;
  const std::size_t count =
      left < static_cast<std::size_t>(size) ? left : static_cast<std::size_t>(size);
  std::memcpy(buffer, state->rtf.data() + state->streamed, count);
  state->streamed += count;
  *done = static_cast<LONG>(count);
  return 0;
}

INT_PTR CALLBACK ListProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* state = reinterpret_cast<ListDialogState*>(GetWindowLongPtrA(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG: {
      state = reinterpret_cast<ListDialogState*>(lParam);
      SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      state->owner.Begin(dialog);
      EDITSTREAM stream{};
      stream.dwCookie = reinterpret_cast<DWORD_PTR>(state);
      stream.pfnCallback = StreamRtf;
      SendDlgItemMessageA(dialog, IDC_FILES_TEXT, EM_STREAMIN, SF_RTF,
                          reinterpret_cast<LPARAM>(&stream));
      EnableWindow(GetDlgItem(dialog, IDC_FILES_ACCEPT), !state->acceptBlocked);
      // Accepting erases flash: it is a click or a keypress of its own, never
      // an Enter meant for something else. Cancel is the default button and
      // has the focus.
      SetFocus(GetDlgItem(dialog, IDCANCEL));
      return FALSE;  // the focus is placed
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_FILES_ACCEPT:
          if (state && state->acceptBlocked) return TRUE;
          [[fallthrough]];
        case IDCANCEL:
          EndDialog(dialog, LOWORD(wParam));
          return TRUE;
      }
      break;
    case WM_DESTROY:
      if (state) state->owner.End();
      break;
  }
  return FALSE;
}

}  // namespace

bool ShowFirmwareFilesList(HWND owner, const std::string& rtf, bool acceptBlocked) {
  // The rich edit class of the list; loading an already loaded library only
  // counts it once more.
  static const HMODULE richEdit = LoadLibraryA("riched32.dll");
  static_cast<void>(richEdit);
  ListDialogState state(App().ui, rtf, acceptBlocked);
  const INT_PTR result = DialogBoxParamA(App().instance, MAKEINTRESOURCEA(IDD_FIRMWARE_FILES),
                                         owner, ListProc, reinterpret_cast<LPARAM>(&state));
  return result == IDC_FILES_ACCEPT && !acceptBlocked;
}

}  // namespace parlex2::win32
