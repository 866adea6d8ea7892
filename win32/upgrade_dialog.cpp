#include "upgrade_dialog.h"

#include <commctrl.h>

#include <memory>
#include <string>
#include <utility>

#include "application.h"
#include "dialog_support.h"
#include "resource.h"
#include "upgrade/upgrade_command.h"
#include "upgrade/upgrade_worker.h"

namespace parlex2::win32 {
namespace {

// The worker's reports as posted commands (called on the worker's thread).
class PostingProgress final : public UpgradeProgress {
 public:
  explicit PostingProgress(HWND dialog) : dialog_(dialog) {}
  void Status(std::string text) override {
    PostTextCommand(dialog_, ID_UPG_STATUS, std::move(text));
  }
  void Progress(int percent) override {
    PostMessageA(dialog_, WM_COMMAND, ID_UPG_PROGRESS, static_cast<LPARAM>(percent));
  }
  void Log(std::string text) override { PostTextCommand(dialog_, ID_UPG_LOG, std::move(text)); }
  void Finished() override { PostMessageA(dialog_, WM_COMMAND, ID_UPG_FINISHED, 1); }

 private:
  HWND dialog_;
};

class ProgressDialog final : public ModalDialog {
 public:
  explicit ProgressDialog(UpgradeDescriptor& descriptor) : descriptor_(descriptor) {}
  // Waits for the worker if it was started and is still running (a safety
  // net: the dialog does not close while it runs).
  void JoinWorker() { worker_.Join(); }

 private:
  INT_PTR OnMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) override {
    switch (message) {
      case WM_INITDIALOG:
        SendDlgItemMessageA(dialog, IDC_UPG_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
        // The upgrade begins without the user pressing Start.
        PostMessageA(dialog, WM_COMMAND, IDC_UPG_START, 0);
        return TRUE;
      case WM_COMMAND:
        return OnCommand(dialog, LOWORD(wParam), lParam);
    }
    return FALSE;
  }

  INT_PTR OnCommand(HWND dialog, int id, LPARAM lParam) {
    switch (id) {
      case IDC_UPG_START:
        Start(dialog);
        return TRUE;
      case ID_UPG_STATUS:
        if (const auto text = TakePostedText(lParam))
          SetDlgItemTextA(dialog, IDC_UPG_STATUS, text->c_str());
        return TRUE;
      case ID_UPG_LOG:
        if (const auto text = TakePostedText(lParam))
          AppendToEdit(GetDlgItem(dialog, IDC_UPG_LOG), *text + "\r\n");
        return TRUE;
      case ID_UPG_PROGRESS:
        SendDlgItemMessageA(dialog, IDC_UPG_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(lParam), 0);
        return TRUE;
      case ID_UPG_FINISHED:
        worker_.Join();  // it has posted its last report
        running_ = false;
        SetDlgItemTextA(dialog, IDCANCEL, "Finished");
        EnableWindow(GetDlgItem(dialog, IDCANCEL), TRUE);
        SetFocus(GetDlgItem(dialog, IDCANCEL));
        return TRUE;
      case IDCANCEL:
        // Escape and the close box come here too: nothing closes the
        // dialog while the worker runs.
        if (!running_) EndDialog(dialog, IDCANCEL);
        return TRUE;
    }
    return FALSE;
  }

  void Start(HWND dialog) {
    if (running_) return;
    progress_ = std::make_unique<PostingProgress>(dialog);
    if (!worker_.Start(descriptor_, App().link, *progress_)) {
      static_cast<UserInterface&>(App().ui).ShowMessage(
          "Failed to start the firmware upgrade thread!", kUpgradeCaption, MessageIcon::Information,
          MessageButtons::Ok);
      return;
    }
    running_ = true;
    EnableWindow(GetDlgItem(dialog, IDC_UPG_START), FALSE);
    EnableWindow(GetDlgItem(dialog, IDCANCEL), FALSE);
  }

  UpgradeDescriptor& descriptor_;
  std::unique_ptr<PostingProgress> progress_;
  UpgradeWorkerThread worker_;
  bool running_ = false;
};

}  // namespace

void ShowUpgradeProgress(HWND owner, UpgradeDescriptor& descriptor) {
  ProgressDialog dialog(descriptor);
  dialog.Run(owner, IDD_UPGRADE_PROGRESS);
  dialog.JoinWorker();
}

}  // namespace parlex2::win32
