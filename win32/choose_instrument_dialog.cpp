#include "choose_instrument_dialog.h"

#include <commctrl.h>

#include <string>

#include "application.h"
#include "connect/lan_search.h"
#include "dialog_support.h"
#include "resource.h"

namespace parlex2::win32 {
namespace {

void AddColumn(HWND list, int index, const char* title, int width) {
  LVCOLUMNA column{};
  column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
  column.pszText = const_cast<char*>(title);
  column.cx = width;
  column.iSubItem = index;
  ListView_InsertColumn(list, index, &column);
}

// A probe row is "address\tidentity": one text per column.
void AddRow(HWND list, const ProbeRow& row) {
  const std::size_t tab = row.text.find('\t');
  std::string address = row.text.substr(0, tab);
  std::string identity = tab == std::string::npos ? std::string() : row.text.substr(tab + 1);
  LVITEMA item{};
  item.mask = LVIF_TEXT | LVIF_PARAM;
  item.iItem = ListView_GetItemCount(list);
  item.pszText = address.data();
  item.lParam = static_cast<LPARAM>(row.entryIndex);
  const int at = ListView_InsertItem(list, &item);
  if (at >= 0) ListView_SetItemText(list, at, 1, identity.data());
}

void OnInitDialog(HWND dialog, std::vector<FoundInstrument>& found) {
  HWND list = GetDlgItem(dialog, IDC_INSTRUMENT_LIST);
  RECT client;
  GetClientRect(list, &client);
  const int width = client.right - client.left;
  AddColumn(list, 0, "IP Address", width * 30 / 100);
  AddColumn(list, 1, "Instrument", width - width * 30 / 100);
  ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);

  const ProbeResult probed = ProbeFoundInstruments(App().ui, found);
  for (const ProbeRow& row : probed.rows) AddRow(list, row);
  if (probed.selectFirst) {
    ListView_SetItemState(list, 0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    SetFocus(list);
  }
}

// The `found` entry of the selected row, if any.
std::optional<std::size_t> SelectedEntry(HWND dialog, std::size_t foundCount) {
  HWND list = GetDlgItem(dialog, IDC_INSTRUMENT_LIST);
  const int selected = ListView_GetNextItem(list, -1, LVNI_SELECTED);
  if (selected < 0) return std::nullopt;
  LVITEMA item{};
  item.mask = LVIF_PARAM;
  item.iItem = selected;
  if (!ListView_GetItem(list, &item) || static_cast<std::size_t>(item.lParam) >= foundCount)
    return std::nullopt;
  return static_cast<std::size_t>(item.lParam);
}

class ChooseDialog final : public ModalDialog {
 public:
  explicit ChooseDialog(std::vector<FoundInstrument>& found) : found_(found) {}
  std::optional<std::size_t> chosen() const { return chosen_; }

 private:
  INT_PTR OnMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) override {
    switch (message) {
      case WM_INITDIALOG:
        OnInitDialog(dialog, found_);
        // Focus stays where initialisation put it when a row is preselected.
        return ListView_GetSelectedCount(GetDlgItem(dialog, IDC_INSTRUMENT_LIST)) == 0;
      case WM_NOTIFY:
        return OnNotify(dialog, *reinterpret_cast<const NMHDR*>(lParam));
      case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
          Finish(dialog);
        } else if (LOWORD(wParam) == IDCANCEL) {
          chosen_.reset();
          EndDialog(dialog, IDCANCEL);
        }
        return TRUE;
    }
    return FALSE;
  }

  INT_PTR OnNotify(HWND dialog, const NMHDR& header) {
    if (header.idFrom != IDC_INSTRUMENT_LIST) return FALSE;
    if (header.code == LVN_ITEMCHANGING) {
      EnableWindow(GetDlgItem(dialog, IDOK), TRUE);
    } else if (header.code == NM_DBLCLK) {
      const auto& activate = reinterpret_cast<const NMITEMACTIVATE&>(header);
      if (activate.iItem >= 0) Finish(dialog);
    }
    return FALSE;
  }

  void Finish(HWND dialog) {
    chosen_ = SelectedEntry(dialog, found_.size());
    EndDialog(dialog, IDOK);
  }

  std::vector<FoundInstrument>& found_;
  std::optional<std::size_t> chosen_;
};

}  // namespace

std::optional<std::size_t> ChooseInstrumentDialog(HWND owner, std::vector<FoundInstrument>& found) {
  ChooseDialog dialog(found);
  dialog.Run(owner, IDD_CHOOSE_INSTRUMENT);
  return dialog.chosen();
}

}  // namespace parlex2::win32
