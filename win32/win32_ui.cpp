#include "win32_ui.h"

#include <commdlg.h>

#include <string>

namespace parlex2::win32 {
namespace {

UINT IconFlag(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Information:
      return MB_ICONINFORMATION;
    case MessageIcon::Warning:
      return MB_ICONWARNING;
    case MessageIcon::Error:
      return MB_ICONERROR;
    case MessageIcon::Question:
      return MB_ICONQUESTION;
    default:
      return 0;
  }
}

UINT ButtonFlag(MessageButtons buttons) {
  switch (buttons) {
    case MessageButtons::OkCancel:
      return MB_OKCANCEL;
    case MessageButtons::YesNo:
      return MB_YESNO;
    case MessageButtons::YesNoCancel:
      return MB_YESNOCANCEL;
    default:
      return MB_OK;
  }
}

MessageAnswer Answer(int result) {
  switch (result) {
    case IDYES:
      return MessageAnswer::Yes;
    case IDNO:
      return MessageAnswer::No;
    case IDCANCEL:
      return MessageAnswer::Cancel;
    default:
      return MessageAnswer::Ok;
  }
}

}  // namespace

MessageAnswer Win32Ui::ShowMessage(std::string_view text, std::string_view caption,
                                   MessageIcon icon, MessageButtons buttons, bool owned) {
  const std::string body(text);
  const std::string title(caption);
  return Answer(MessageBoxA(owned ? Owner() : nullptr, body.c_str(), title.c_str(),
                            IconFlag(icon) | ButtonFlag(buttons)));
}

void Win32Ui::BeginWait() {
  HCURSOR previous = SetCursor(LoadCursor(nullptr, IDC_WAIT));
  if (waitDepth_++ == 0) restoreCursor_ = previous;
}

void Win32Ui::EndWait() {
  if (waitDepth_ == 0) return;
  if (--waitDepth_ == 0)
    SetCursor(restoreCursor_ ? restoreCursor_ : LoadCursor(nullptr, IDC_ARROW));
}

std::optional<std::string> Win32Ui::RunFileDialog(const FileDialogOptions& options, bool save,
                                                  int* fileType) {
  // "Name\0pattern\0\0": the dialog's filter list.
  std::string filter = options.filterName;
  filter.push_back('\0');
  filter += options.filterPattern;
  filter.push_back('\0');
  for (const auto& [name, pattern] : options.moreFilters) {
    filter += name;
    filter.push_back('\0');
    filter += pattern;
    filter.push_back('\0');
  }
  filter.push_back('\0');
  char name[MAX_PATH] = {};
  options.initialName.copy(name, MAX_PATH - 1);

  OPENFILENAMEA dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = Owner();
  dialog.lpstrFilter = options.filterName.empty() ? nullptr : filter.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = name;
  dialog.nMaxFile = MAX_PATH;
  dialog.lpstrTitle = options.title.empty() ? nullptr : options.title.c_str();
  dialog.lpstrDefExt =
      options.defaultExtension.empty() ? nullptr : options.defaultExtension.c_str();
  dialog.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST;
  if (save) {
    if (options.confirmOverwrite) dialog.Flags |= OFN_OVERWRITEPROMPT;
    if (!GetSaveFileNameA(&dialog)) return std::nullopt;
  } else {
    dialog.Flags |= OFN_FILEMUSTEXIST;
    if (!GetOpenFileNameA(&dialog)) return std::nullopt;
  }
  if (fileType) *fileType = static_cast<int>(dialog.nFilterIndex);
  return std::string(name);
}

std::optional<std::string> Win32Ui::ChooseFileToOpen(const FileDialogOptions& options) {
  return RunFileDialog(options, false);
}

std::optional<std::string> Win32Ui::ChooseFileToSave(const FileDialogOptions& options) {
  return RunFileDialog(options, true);
}

std::optional<SaveFileChoice> Win32Ui::ChooseFileAndTypeToSave(const FileDialogOptions& options) {
  int fileType = 1;
  std::optional<std::string> path = RunFileDialog(options, true, &fileType);
  if (!path) return std::nullopt;
  return SaveFileChoice{std::move(*path), fileType};
}

void AppendToEdit(HWND edit, const std::string& text) {
  const LRESULT end = GetWindowTextLengthA(edit);
  SendMessageA(edit, EM_SETSEL, static_cast<WPARAM>(end), end);
  SendMessageA(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

}  // namespace parlex2::win32
