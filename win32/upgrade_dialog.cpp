#include "upgrade_dialog.h"

#include <commctrl.h>

#include <memory>
#include <string>

#include "application.h"
#include "common/clock.h"
#include "resource.h"
#include "upgrade/upgrade_command.h"
#include "upgrade/upgrade_worker.h"

namespace parlex2::win32 {
namespace {

// The worker's reports as posted commands. A text goes over as a heap copy
// that the dialog deletes once shown; when the post fails it is deleted here.
class PostingProgress final : public UpgradeProgress {
 public:
  explicit PostingProgress(HWND dialog) : dialog_(dialog) {}
  void Status(std::string text) override { PostText(ID_UPG_STATUS, std::move(text)); }
  void Progress(int percent) override {
    PostMessageA(dialog_, WM_COMMAND, ID_UPG_PROGRESS, static_cast<LPARAM>(percent));
  }
  void Log(std::string text) override { PostText(ID_UPG_LOG, std::move(text)); }
  void Finished() override { PostMessageA(dialog_, WM_COMMAND, ID_UPG_FINISHED, 1); }

 private:
  void PostText(int id, std::string text) {
    std::unique_ptr<std::string> copy;
    try {
      copy = std::make_unique<std::string>(std::move(text));
    } catch (const std::bad_alloc&) {
      return;  // nothing posted
    }
    if (PostMessageA(dialog_, WM_COMMAND, static_cast<WPARAM>(id),
                     reinterpret_cast<LPARAM>(copy.get()))) {
      static_cast<void>(copy.release());  // the dialog's handler deletes it
    }
  }
  HWND dialog_;
};

struct ProgressDialogState {
  ProgressDialogState(Win32Ui& ui, UpgradeDescriptor& d) : owner(ui), descriptor(d) {}
  ScopedDialogOwner owner;
  UpgradeDescriptor& descriptor;
  std::unique_ptr<PostingProgress> progress;
  UpgradeWorkerThread worker;
  bool running = false;
};

void AppendLog(HWND dialog, const std::string& text) {
  HWND log = GetDlgItem(dialog, IDC_UPG_LOG);
  const std::string line = text + "\r\n";
  const LRESULT end = GetWindowTextLengthA(log);
  SendMessageA(log, EM_SETSEL, static_cast<WPARAM>(end), end);
  SendMessageA(log, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(line.c_str()));
}

void Start(HWND dialog, ProgressDialogState& state) {
  if (state.running) return;
  state.progress = std::make_unique<PostingProgress>(dialog);
  if (!state.worker.Start(state.descriptor, App().link, *state.progress, SystemClock())) {
    static_cast<UserInterface&>(App().ui).ShowMessage(
        "Failed to start the firmware upgrade thread!", kUpgradeCaption, MessageIcon::Information,
        MessageButtons::Ok);
    return;
  }
  state.running = true;
  EnableWindow(GetDlgItem(dialog, IDC_UPG_START), FALSE);
  EnableWindow(GetDlgItem(dialog, IDCANCEL), FALSE);
}

INT_PTR CALLBACK ProgressProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* state = reinterpret_cast<ProgressDialogState*>(GetWindowLongPtrA(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      state = reinterpret_cast<ProgressDialogState*>(lParam);
      SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      state->owner.Begin(dialog);
      SendDlgItemMessageA(dialog, IDC_UPG_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
      // The upgrade begins without the user pressing Start.
      PostMessageA(dialog, WM_COMMAND, IDC_UPG_START, 0);
      return TRUE;
    case WM_COMMAND:
      if (!state) break;
      switch (LOWORD(wParam)) {
        case IDC_UPG_START:
          Start(dialog, *state);
          return TRUE;
        case ID_UPG_STATUS: {
          std::unique_ptr<std::string> text(reinterpret_cast<std::string*>(lParam));
          if (text) SetDlgItemTextA(dialog, IDC_UPG_STATUS, text->c_str());
          return TRUE;
        }
        case ID_UPG_LOG: {
          std::unique_ptr<std::string> text(reinterpret_cast<std::string*>(lParam));
          if (text) AppendLog(dialog, *text);
          return TRUE;
        }
        case ID_UPG_PROGRESS:
          SendDlgItemMessageA(dialog, IDC_UPG_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(lParam), 0);
          return TRUE;
        case ID_UPG_FINISHED:
          state->worker.Join();  // it has posted its last report
          state->running = false;
          SetDlgItemTextA(dialog, IDCANCEL, "Finished");
          EnableWindow(GetDlgItem(dialog, IDCANCEL), TRUE);
          SetFocus(GetDlgItem(dialog, IDCANCEL));
          return TRUE;
        case IDCANCEL:
          // Escape and the close box come here too: nothing closes the
          // dialog while the worker runs.
          if (state->running) return TRUE;
          EndDialog(dialog, IDCANCEL);
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

void ShowUpgradeProgress(HWND owner, UpgradeDescriptor& descriptor) {
  ProgressDialogState state(App().ui, descriptor);
  DialogBoxParamA(App().instance, MAKEINTRESOURCEA(IDD_UPGRADE_PROGRESS), owner, ProgressProc,
                  reinterpret_cast<LPARAM>(&state));
  state.worker.Join();
}

}  // namespace parlex2::win32
