#include "choose_instrument_dialog.h"

#include <commctrl.h>

#include <string>

#include "application.h"
#include "connect/lan_search.h"
#include "resource.h"

namespace parlex2::win32 {
namespace {

struct ChooseState {
  ChooseState(Win32Ui& ui, std::vector<FoundInstrument>& list) : owner(ui), found(list) {}
  ScopedDialogOwner owner;
  std::vector<FoundInstrument>& found;
  std::optional<std::size_t> chosen;
};

ChooseState* StateOf(HWND dialog) {
  return reinterpret_cast<ChooseState*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

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

void OnInitDialog(HWND dialog, ChooseState& state) {
  SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(&state));
  state.owner.Begin(dialog);
  HWND list = GetDlgItem(dialog, IDC_INSTRUMENT_LIST);
  RECT client;
  GetClientRect(list, &client);
  const int width = client.right - client.left;
  AddColumn(list, 0, "IP Address", width * 30 / 100);
  AddColumn(list, 1, "Instrument", width - width * 30 / 100);
  ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);

  const ProbeResult probed = ProbeFoundInstruments(App().ui, state.found);
  for (const ProbeRow& row : probed.rows) AddRow(list, row);
  if (probed.selectFirst) {
    ListView_SetItemState(list, 0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    SetFocus(list);
  }
}

void Finish(HWND dialog, ChooseState& state) {
  HWND list = GetDlgItem(dialog, IDC_INSTRUMENT_LIST);
  const int selected = ListView_GetNextItem(list, -1, LVNI_SELECTED);
  state.chosen.reset();
  if (selected >= 0) {
    LVITEMA item{};
    item.mask = LVIF_PARAM;
    item.iItem = selected;
    if (ListView_GetItem(list, &item) && static_cast<std::size_t>(item.lParam) < state.found.size())
      state.chosen = static_cast<std::size_t>(item.lParam);
  }
  EndDialog(dialog, IDOK);
}

INT_PTR OnNotify(HWND dialog, const NMHDR& header) {
  if (header.idFrom != IDC_INSTRUMENT_LIST) return FALSE;
  if (header.code == LVN_ITEMCHANGING) {
    EnableWindow(GetDlgItem(dialog, IDOK), TRUE);
  } else if (header.code == NM_DBLCLK) {
    const auto& activate = reinterpret_cast<const NMITEMACTIVATE&>(header);
    if (activate.iItem >= 0) {
      if (ChooseState* state = StateOf(dialog)) Finish(dialog, *state);
    }
  }
  return FALSE;
}

INT_PTR CALLBACK ChooseInstrumentProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog(dialog, *reinterpret_cast<ChooseState*>(lParam));
      // Focus stays where initialisation put it when a row is preselected.
      return ListView_GetSelectedCount(GetDlgItem(dialog, IDC_INSTRUMENT_LIST)) == 0;
    case WM_NOTIFY:
      return OnNotify(dialog, *reinterpret_cast<const NMHDR*>(lParam));
    case WM_COMMAND:
      if (ChooseState* state = StateOf(dialog)) {
        if (LOWORD(wParam) == IDOK) {
          Finish(dialog, *state);
        } else if (LOWORD(wParam) == IDCANCEL) {
          state->chosen.reset();
          EndDialog(dialog, IDCANCEL);
        }
      }
      return TRUE;
    case WM_DESTROY:
      if (ChooseState* state = StateOf(dialog)) state->owner.End();
      return FALSE;
  }
  return FALSE;
}

}  // namespace

std::optional<std::size_t> ChooseInstrumentDialog(HWND owner, std::vector<FoundInstrument>& found) {
  ChooseState state(App().ui, found);
  DialogBoxParamA(App().instance, MAKEINTRESOURCEA(IDD_CHOOSE_INSTRUMENT), owner,
                  ChooseInstrumentProc, reinterpret_cast<LPARAM>(&state));
  return state.chosen;
}

}  // namespace parlex2::win32
