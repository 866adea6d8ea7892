#include "firmware_list_dialog.h"

#include <richedit.h>

#include <cstring>

#include "dialog_support.h"
#include "resource.h"

namespace parlex2::win32 {
namespace {

// What EM_STREAMIN reads the document from.
struct RtfSource {
  const std::string& rtf;
  std::size_t streamed = 0;
};

// Hands the document to the rich edit in pieces, as EM_STREAMIN asks for it.
DWORD CALLBACK StreamRtf(DWORD_PTR cookie, LPBYTE buffer, LONG size, LONG* done) {
  auto* source = reinterpret_cast<RtfSource*>(cookie);
  const std::size_t left = source->rtf.size() - source->streamed;
  const std::size_t count =
      left < static_cast<std::size_t>(size) ? left : static_cast<std::size_t>(size);
  std::memcpy(buffer, source->rtf.data() + source->streamed, count);
  source->streamed += count;
  *done = static_cast<LONG>(count);
  return 0;
}

class ListDialog final : public ModalDialog {
 public:
  ListDialog(const std::string& rtf, bool acceptBlocked)
      : rtf_(rtf), acceptBlocked_(acceptBlocked) {}

 private:
  INT_PTR OnMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM) override {
    switch (message) {
      case WM_INITDIALOG: {
        RtfSource source{rtf_};
        EDITSTREAM stream{};
        stream.dwCookie = reinterpret_cast<DWORD_PTR>(&source);
        stream.pfnCallback = StreamRtf;
        SendDlgItemMessageA(dialog, IDC_FILES_TEXT, EM_STREAMIN, SF_RTF,
                            reinterpret_cast<LPARAM>(&stream));
        EnableWindow(GetDlgItem(dialog, IDC_FILES_ACCEPT), !acceptBlocked_);
        // Accepting erases flash: it is a click or a keypress of its own, never
        // an Enter meant for something else. Cancel is the default button and
        // has the focus.
        SetFocus(GetDlgItem(dialog, IDCANCEL));
        return FALSE;  // the focus is placed
      }
      case WM_COMMAND:
        switch (LOWORD(wParam)) {
          case IDC_FILES_ACCEPT:
            if (acceptBlocked_) return TRUE;
            [[fallthrough]];
          case IDCANCEL:
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        break;
    }
    return FALSE;
  }

  const std::string& rtf_;
  bool acceptBlocked_;
};

}  // namespace

bool ShowFirmwareFilesList(HWND owner, const std::string& rtf, bool acceptBlocked) {
  // The rich edit class of the list; loading an already loaded library only
  // counts it once more.
  static const HMODULE richEdit = LoadLibraryA("riched32.dll");
  static_cast<void>(richEdit);
  const INT_PTR result = ListDialog(rtf, acceptBlocked).Run(owner, IDD_FIRMWARE_FILES);
  return result == IDC_FILES_ACCEPT && !acceptBlocked;
}

}  // namespace parlex2::win32
