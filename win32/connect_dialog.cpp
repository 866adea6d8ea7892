#include "connect_dialog.h"

#include <commctrl.h>

#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/connection_defaults.h"
#include "app/settings.h"
#include "application.h"
#include "choose_instrument_dialog.h"
#include "connect/connection_form.h"
#include "connect/lan_search.h"
#include "dialog_support.h"
#include "resource.h"

namespace parlex2::win32 {
namespace {

std::optional<std::string> SelectedText(HWND dialog, int id) {
  const LRESULT index = SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0);
  if (index == CB_ERR) return std::nullopt;
  const LRESULT length = SendDlgItemMessageA(dialog, id, CB_GETLBTEXTLEN, index, 0);
  if (length == CB_ERR) return std::nullopt;
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  SendDlgItemMessageA(dialog, id, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(length));
  return text;
}

void SelectText(HWND dialog, int id, const std::optional<std::string>& text) {
  if (!text) return;
  const LRESULT index = SendDlgItemMessageA(dialog, id, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                            reinterpret_cast<LPARAM>(text->c_str()));
  if (index != CB_ERR) SendDlgItemMessageA(dialog, id, CB_SETCURSEL, index, 0);
}

void SetIpAddress(HWND dialog, const std::string& address) {
  const auto fields = ParseIpAddress(address);
  if (address.empty() || !fields) {
    SendDlgItemMessageA(dialog, IDC_IP_ADDRESS, IPM_CLEARADDRESS, 0, 0);
    return;
  }
  const auto& f = *fields;
  SendDlgItemMessageA(dialog, IDC_IP_ADDRESS, IPM_SETADDRESS, 0,
                      static_cast<LPARAM>(MAKEIPADDRESS(f[0], f[1], f[2], f[3])));
}

std::string IpAddressOf(HWND dialog) {
  DWORD address = 0;
  SendDlgItemMessageA(dialog, IDC_IP_ADDRESS, IPM_GETADDRESS, 0,
                      reinterpret_cast<LPARAM>(&address));
  return IpAddressText({static_cast<std::uint8_t>(FIRST_IPADDRESS(address)),
                        static_cast<std::uint8_t>(SECOND_IPADDRESS(address)),
                        static_cast<std::uint8_t>(THIRD_IPADDRESS(address)),
                        static_cast<std::uint8_t>(FOURTH_IPADDRESS(address))});
}

ConnectionForm ReadForm(HWND dialog) {
  ConnectionForm form;
  const LRESULT index = SendDlgItemMessageA(dialog, IDC_INTERFACE, CB_GETCURSEL, 0, 0);
  form.interfaceIndex = index == CB_ERR ? -1 : static_cast<int>(index);
  form.comPort = SelectedText(dialog, IDC_COM_PORT);
  form.baudText = SelectedText(dialog, IDC_BAUD_RATE);
  form.ipText = IpAddressOf(dialog);
  return form;
}

void ShowItem(HWND dialog, int id, bool show) {
  ShowWindow(GetDlgItem(dialog, id), show ? SW_SHOW : SW_HIDE);
}

void ApplyInterface(HWND dialog, int interfaceIndex) {
  const ConnectionFormLayout layout = LayoutForInterface(interfaceIndex);
  ShowItem(dialog, IDC_IP_ADDRESS, layout.showIpAddress);
  ShowItem(dialog, IDC_SEARCH_LAN, layout.showIpAddress);
  ShowItem(dialog, IDC_COM_PORT, layout.showComPort);
  ShowItem(dialog, IDC_BAUD_RATE, layout.showBaudRate);
  ShowItem(dialog, IDC_BAUD_LABEL, layout.showBaudRate);
  EnableWindow(GetDlgItem(dialog, IDC_BAUD_RATE), layout.enableBaudRate);
  EnableWindow(GetDlgItem(dialog, IDC_BAUD_LABEL), layout.enableBaudRate);
  SetDlgItemTextA(dialog, IDC_PORT_LABEL, layout.portLabel);
}

// Returns the search button's icon, which the caller destroys.
HICON OnInitDialog(HWND dialog) {
  Application& app = App();

  for (const char* name : kInterfaceNames)
    SendDlgItemMessageA(dialog, IDC_INTERFACE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
  std::vector<std::string> ports;
  {
    // Trying every COM port name takes a moment.
    ScopedWaitCursor wait(app.ui);
    ports = FindComPorts();
  }
  for (const std::string& port : ports)
    SendDlgItemMessageA(dialog, IDC_COM_PORT, CB_ADDSTRING, 0,
                        reinterpret_cast<LPARAM>(port.c_str()));
  for (const char* rate : kBaudRateTexts)
    SendDlgItemMessageA(dialog, IDC_BAUD_RATE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(rate));

  const ConnectionForm form = FormFromSettings(app.link.settings, ports);
  if (form.interfaceIndex >= 0) {
    SendDlgItemMessageA(dialog, IDC_INTERFACE, CB_SETCURSEL, form.interfaceIndex, 0);
    ApplyInterface(dialog, form.interfaceIndex);
  }
  SelectText(dialog, IDC_COM_PORT, form.comPort);
  SelectText(dialog, IDC_BAUD_RATE, form.baudText);
  SetIpAddress(dialog, app.link.settings.ipAddress);

  auto* searchIcon = static_cast<HICON>(LoadImageA(app.instance, MAKEINTRESOURCEA(IDI_INSTRUMENT),
                                                   IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
  SendDlgItemMessageA(dialog, IDC_SEARCH_LAN, BM_SETIMAGE, IMAGE_ICON,
                      reinterpret_cast<LPARAM>(searchIcon));
  ShowItem(dialog, IDC_TEST, true);
  return searchIcon;
}

void OnSearch(HWND dialog) {
  const auto address = SearchLan(App().ui, [dialog](std::vector<FoundInstrument>& found) {
    return ChooseInstrumentDialog(dialog, found);
  });
  if (address) SetIpAddress(dialog, *address);
}

void OnSaveAsDefault(HWND dialog) {
  std::unique_ptr<SettingsStore> store = OpenSettingsStore(SettingsIniPath());
  SettingsConnectionDefaults defaults(*store);
  SaveAsDefault(App().ui, ReadForm(dialog), App().link, defaults);
}

void OnCommand(HWND dialog, int id, int notification) {
  Application& app = App();
  switch (id) {
    case IDC_INTERFACE:
      if (notification == CBN_SELCHANGE) {
        const LRESULT index = SendDlgItemMessageA(dialog, IDC_INTERFACE, CB_GETCURSEL, 0, 0);
        if (index != CB_ERR) ApplyInterface(dialog, static_cast<int>(index));
      }
      break;
    case IDC_TEST:
      TestConnection(app.ui, ReadForm(dialog), app.link);
      break;
    case IDC_CONNECT_NOW:
      if (ConnectFromForm(app.ui, ReadForm(dialog), app.link)) EndDialog(dialog, IDC_CONNECT_NOW);
      break;
    case IDC_SAVE_DEFAULT:
      OnSaveAsDefault(dialog);
      break;
    case IDC_SEARCH_LAN:
      OnSearch(dialog);
      break;
    case IDCANCEL:
      EndDialog(dialog, IDCANCEL);
      break;
  }
}

class ConnectDialog final : public ModalDialog {
  INT_PTR OnMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM) override {
    switch (message) {
      case WM_INITDIALOG:
        searchIcon_ = OnInitDialog(dialog);
        return TRUE;
      case WM_COMMAND:
        OnCommand(dialog, LOWORD(wParam), HIWORD(wParam));
        return TRUE;
      case WM_DESTROY:
        if (searchIcon_) DestroyIcon(searchIcon_);
        searchIcon_ = nullptr;
        return FALSE;
    }
    return FALSE;
  }

  HICON searchIcon_ = nullptr;
};

}  // namespace

void ShowConnectDialog(HWND owner) {
  INITCOMMONCONTROLSEX classes{sizeof classes, ICC_INTERNET_CLASSES | ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&classes);
  ConnectDialog().Run(owner, IDD_CONNECT);
}

}  // namespace parlex2::win32
