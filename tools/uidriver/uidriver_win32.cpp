// uidriver: drives a Windows program from outside, one command per run, for
// end-to-end tests under Wine or on Windows:
//
//   uidriver COMMAND [ARGS...]
//
// The commands, their arguments and what each does are the table kCommands
// at the end of this file; run without a command, the driver prints it.
// Most commands first name a window, WINDOW (see kNotes), and wait for it.
// Exit status 0 on success, 1 on failure or time-out (with a message on
// standard error), 2 for bad usage.
#include <windows.h>
// After windows.h, which they need.
#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

using Args = std::vector<std::wstring>;

DWORD TimeoutMs() {
  wchar_t value[32];
  if (GetEnvironmentVariableW(L"UIDRIVER_TIMEOUT_MS", value, 32) > 0)
    return wcstoul(value, nullptr, 10);
  return 10000;
}

int Fail(const wchar_t* format, const std::wstring& detail = L"") {
  fwprintf(stderr, L"uidriver: ");
  fwprintf(stderr, format, detail.c_str());
  fwprintf(stderr, L"\n");
  return 1;
}

void Print(const std::wstring& text) {
  // UTF-8 on standard output, whatever the console code page.
  int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string bytes(size > 0 ? size - 1 : 0, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, bytes.data(), size, nullptr, nullptr);
  fwrite(bytes.data(), 1, bytes.size(), stdout);
  fputc('\n', stdout);
  fflush(stdout);
}

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

// The text of any window, also of another process's controls.
std::wstring TextOf(HWND window, UINT timeoutMs = 2000) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, timeoutMs, &length))
    return L"";
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data()),
                      SMTO_ABORTIFHUNG, timeoutMs, &copied);
  text.resize(copied);
  return text;
}

struct Search {
  std::wstring className;
  std::wstring title;
  bool matchTitle = false;
  DWORD processId = 0;
  HWND found = nullptr;
};

BOOL CALLBACK MatchTopLevel(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  if (!IsWindowVisible(window)) return TRUE;
  if (search->processId) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId) return TRUE;
  }
  if (!search->className.empty() && ClassOf(window) != search->className) return TRUE;
  if (search->matchTitle && TextOf(window) != search->title) return TRUE;
  search->found = window;
  return FALSE;
}

HWND FindNow(const std::wstring& spec) {
  if (spec.rfind(L"0x", 0) == 0) {
    HWND window =
        reinterpret_cast<HWND>(static_cast<UINT_PTR>(wcstoull(spec.c_str(), nullptr, 16)));
    return IsWindow(window) ? window : nullptr;
  }
  Search search;
  if (spec.rfind(L"class=", 0) == 0) {
    search.className = spec.substr(6);
  } else if (spec.rfind(L"dialog=", 0) == 0) {
    search.className = L"#32770";
    search.title = spec.substr(7);
    search.matchTitle = true;
  } else if (spec.rfind(L"title=", 0) == 0) {
    search.title = spec.substr(6);
    search.matchTitle = true;
  } else {
    return nullptr;
  }
  EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool ValidSpec(const std::wstring& spec) {
  for (const wchar_t* prefix : {L"0x", L"class=", L"dialog=", L"title="}) {
    if (spec.rfind(prefix, 0) == 0) return true;
  }
  return false;
}

HWND WaitFor(const std::wstring& spec) {
  DWORD start = GetTickCount();
  for (;;) {
    if (HWND window = FindNow(spec)) return window;
    if (GetTickCount() - start > TimeoutMs()) return nullptr;
    Sleep(10);
  }
}

int WaitGone(const std::wstring& spec) {
  DWORD start = GetTickCount();
  while (FindNow(spec)) {
    if (GetTickCount() - start > TimeoutMs()) return Fail(L"%ls is still there", spec);
    Sleep(10);
  }
  return 0;
}

std::wstring Hex(HWND window) {
  wchar_t text[32];
  swprintf(text, 32, L"0x%llx",
           static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window)));
  return text;
}

int Number(const std::wstring& text) { return static_cast<int>(wcstol(text.c_str(), nullptr, 0)); }

// One chord of KEYS as virtual keys, modifiers first.
bool ParseChord(const std::wstring& chord, std::vector<WORD>& keys) {
  static const struct {
    const wchar_t* name;
    WORD key;
  } kNamed[] = {{L"alt", VK_MENU},    {L"ctrl", VK_CONTROL}, {L"shift", VK_SHIFT},
                {L"esc", VK_ESCAPE},  {L"enter", VK_RETURN}, {L"tab", VK_TAB},
                {L"up", VK_UP},       {L"down", VK_DOWN},    {L"left", VK_LEFT},
                {L"right", VK_RIGHT}, {L"space", VK_SPACE},  {L"back", VK_BACK},
                {L"f1", VK_F1},       {L"f10", VK_F10},      {L"delete", VK_DELETE}};
  std::size_t start = 0;
  while (start <= chord.size()) {
    std::size_t plus = chord.find(L'+', start + 1);  // "alt++" is alt and '+'
    std::wstring part =
        chord.substr(start, plus == std::wstring::npos ? std::wstring::npos : plus - start);
    bool known = false;
    for (const auto& named : kNamed) {
      if (part == named.name) {
        keys.push_back(named.key);
        known = true;
      }
    }
    if (!known) {
      if (part.size() != 1) return false;
      SHORT scan = VkKeyScanW(part[0]);
      if (scan == -1) return false;
      if (scan & 0x100) keys.push_back(VK_SHIFT);
      if (scan & 0x200) keys.push_back(VK_CONTROL);
      keys.push_back(LOBYTE(scan));
    }
    if (plus == std::wstring::npos) break;
    start = plus + 1;
  }
  return !keys.empty();
}

std::vector<std::wstring> Words(const Args& args, std::size_t from) {
  std::vector<std::wstring> words;
  for (std::size_t i = from; i < args.size(); ++i) {
    std::wstring word;
    for (wchar_t c : args[i] + L" ") {
      if (c == L' ') {
        if (!word.empty()) words.push_back(word);
        word.clear();
      } else {
        word += c;
      }
    }
  }
  return words;
}

int Start(const Args& args) {
  std::wstring commandLine;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (i > 1) commandLine += L' ';
    commandLine += L'"' + args[i] + L'"';
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  // Under Wine, CreateProcess now and then fails outright on a loaded
  // machine. Nothing was started then, so it is tried again a few times.
  bool started = false;
  DWORD error = 0;
  for (int attempt = 0; attempt < 3 && !started; ++attempt) {
    if (attempt > 0) {
      fwprintf(stderr, L"uidriver: CreateProcess failed (error %lu); trying again\n", error);
      Sleep(250);
    }
    started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                             nullptr, &startup, &process) != FALSE;
    if (!started) error = GetLastError();
  }
  if (!started) {
    return Fail(L"cannot start %ls", args[1] + L" (error " + std::to_wstring(error) + L")");
  }
  WaitForInputIdle(process.hProcess, TimeoutMs());
  Search search;
  search.processId = process.dwProcessId;
  DWORD start = GetTickCount();
  while (!search.found && GetTickCount() - start <= TimeoutMs()) {
    EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&search));
    if (!search.found) {
      if (WaitForSingleObject(process.hProcess, 10) == WAIT_OBJECT_0) break;
    }
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (!search.found) return Fail(L"%ls showed no window", args[1]);
  Print(std::to_wstring(process.dwProcessId));
  return 0;
}

int PostKeys(HWND window, const std::vector<std::wstring>& chords) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  DWORD thread = GetWindowThreadProcessId(window, nullptr);
  HWND target = GetGUIThreadInfo(thread, &info) && info.hwndFocus ? info.hwndFocus : window;
  for (const std::wstring& chord : chords) {
    std::vector<WORD> keys;
    if (!ParseChord(chord, keys)) return Fail(L"unknown key %ls", chord);
    for (WORD key : keys) PostMessageW(target, WM_KEYDOWN, key, 1);
    for (auto key = keys.rbegin(); key != keys.rend(); ++key)
      PostMessageW(target, WM_KEYUP, *key, 0xC0000001);
  }
  return 0;
}

int InputKeys(HWND window, const std::vector<std::wstring>& chords) {
  SetForegroundWindow(window);
  DWORD start = GetTickCount();
  while (GetForegroundWindow() != window && GetTickCount() - start < 2000) Sleep(10);
  for (const std::wstring& chord : chords) {
    std::vector<WORD> keys;
    if (!ParseChord(chord, keys)) return Fail(L"unknown key %ls", chord);
    std::vector<INPUT> inputs;
    for (WORD key : keys) {
      INPUT input{};
      input.type = INPUT_KEYBOARD;
      input.ki.wVk = key;
      inputs.push_back(input);
    }
    for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
      INPUT input{};
      input.type = INPUT_KEYBOARD;
      input.ki.wVk = *key;
      input.ki.dwFlags = KEYEVENTF_KEYUP;
      inputs.push_back(input);
    }
    if (SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)) != inputs.size())
      return Fail(L"input refused for %ls", chord);
  }
  return 0;
}

struct ControlSearch {
  int id;
  HWND found;
};

BOOL CALLBACK MatchControl(HWND child, LPARAM param) {
  auto* search = reinterpret_cast<ControlSearch*>(param);
  if (GetDlgCtrlID(child) != search->id) return TRUE;
  search->found = child;
  return FALSE;
}

// Control `id` of `window`, also inside nested child dialogs (as in the
// common file dialogs).
HWND FindControl(HWND window, int id) {
  if (HWND control = GetDlgItem(window, id)) return control;
  ControlSearch search{id, nullptr};
  EnumChildWindows(window, MatchControl, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool IsCombo(HWND control) {
  std::wstring name = ClassOf(control);
  for (wchar_t& c : name) c = towlower(c);
  return name.find(L"combobox") != std::wstring::npos;
}

int Items(HWND window, int id) {
  HWND control = FindControl(window, id);
  if (!control) return Fail(L"no control %ls", std::to_wstring(id));
  bool combo = IsCombo(control);
  DWORD_PTR count = 0, selected = 0;
  SendMessageTimeoutW(control, combo ? CB_GETCOUNT : LB_GETCOUNT, 0, 0, SMTO_NORMAL, 2000, &count);
  SendMessageTimeoutW(control, combo ? CB_GETCURSEL : LB_GETCURSEL, 0, 0, SMTO_NORMAL, 2000,
                      &selected);
  for (DWORD_PTR i = 0; i<count&& static_cast<LONG_PTR>(count)> 0; ++i) {
    DWORD_PTR length = 0;
    SendMessageTimeoutW(control, combo ? CB_GETLBTEXTLEN : LB_GETTEXTLEN, i, 0, SMTO_NORMAL, 2000,
                        &length);
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(control, combo ? CB_GETLBTEXT : LB_GETTEXT, i,
                        reinterpret_cast<LPARAM>(text.data()), SMTO_NORMAL, 2000, &copied);
    text.resize(static_cast<LONG_PTR>(copied) > 0 ? copied : 0);
    Print((i == selected ? L"*" : L" ") + text);
  }
  return 0;
}

int Pick(HWND window, int id, const std::wstring& entry) {
  HWND control = FindControl(window, id);
  if (!control) return Fail(L"no control %ls", std::to_wstring(id));
  bool combo = IsCombo(control);
  bool digits = !entry.empty() && entry.find_first_not_of(L"0123456789") == std::wstring::npos;
  LRESULT index;
  if (digits) {
    index = Number(entry);
  } else {
    index = SendMessageW(control, combo ? CB_FINDSTRINGEXACT : LB_FINDSTRINGEXACT,
                         static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(entry.c_str()));
    if (index < 0) return Fail(L"no entry %ls", entry);
  }
  if (SendMessageW(control, combo ? CB_SETCURSEL : LB_SETCURSEL, index, 0) < 0)
    return Fail(L"cannot select %ls", entry);
  // Selecting by message tells nobody; the parent learns of it as of a click.
  // A combo box's pick ends with CBN_SELENDOK as well, which is what some
  // dialogs act on (the common file dialogs' file type).
  PostMessageW(GetParent(control), WM_COMMAND,
               MAKEWPARAM(id, combo ? CBN_SELCHANGE : LBN_SELCHANGE),
               reinterpret_cast<LPARAM>(control));
  if (combo) {
    PostMessageW(GetParent(control), WM_COMMAND, MAKEWPARAM(id, CBN_SELENDOK),
                 reinterpret_cast<LPARAM>(control));
  }
  return 0;
}

// Memory in another process, for the list view messages that pass a
// structure by pointer.
class RemoteBuffer {
 public:
  RemoteBuffer(HWND window, std::size_t size) : size_(size) {
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    process_ =
        OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
    if (process_)
      address_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  }
  ~RemoteBuffer() {
    if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    if (process_) CloseHandle(process_);
  }
  RemoteBuffer(const RemoteBuffer&) = delete;
  RemoteBuffer& operator=(const RemoteBuffer&) = delete;
  bool ok() const { return address_ != nullptr; }
  char* at(std::size_t offset) const { return static_cast<char*>(address_) + offset; }
  bool Write(std::size_t offset, const void* data, std::size_t size) const {
    return WriteProcessMemory(process_, at(offset), data, size, nullptr);
  }
  bool Read(std::size_t offset, void* data, std::size_t size) const {
    return ReadProcessMemory(process_, at(offset), data, size, nullptr);
  }

 private:
  HANDLE process_ = nullptr;
  void* address_ = nullptr;
  std::size_t size_;
};

std::wstring ListCell(HWND list, const RemoteBuffer& remote, int row, int column) {
  constexpr std::size_t kTextAt = 512, kTextChars = 512;
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = reinterpret_cast<wchar_t*>(remote.at(kTextAt));
  item.cchTextMax = kTextChars;
  wchar_t empty = 0;
  remote.Write(kTextAt, &empty, sizeof empty);
  remote.Write(0, &item, sizeof item);
  DWORD_PTR length = 0;
  SendMessageTimeoutW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(remote.at(0)),
                      SMTO_NORMAL, 2000, &length);
  std::wstring text(kTextChars, L'\0');
  remote.Read(kTextAt, text.data(), kTextChars * sizeof(wchar_t));
  text.resize(wcsnlen(text.c_str(), kTextChars));
  return text;
}

int Rows(HWND window, int id) {
  HWND list = FindControl(window, id);
  if (!list) return Fail(L"no control %ls", std::to_wstring(id));
  RemoteBuffer remote(list, 2048);
  if (!remote.ok()) return Fail(L"cannot reach the list's process");
  HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
  const int columns = header ? static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 1;
  const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  for (int row = 0; row < count; ++row) {
    const bool selected = SendMessageW(list, LVM_GETITEMSTATE, row, LVIS_SELECTED) != 0;
    std::wstring line = selected ? L"*" : L" ";
    for (int column = 0; column < columns; ++column) {
      if (column > 0) line += L'\t';
      line += ListCell(list, remote, row, column);
    }
    Print(line);
  }
  return 0;
}

int SelectRow(HWND window, int id, int row) {
  HWND list = FindControl(window, id);
  if (!list) return Fail(L"no control %ls", std::to_wstring(id));
  RemoteBuffer remote(list, sizeof(LVITEMW));
  if (!remote.ok()) return Fail(L"cannot reach the list's process");
  LVITEMW item{};
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  item.state = LVIS_SELECTED | LVIS_FOCUSED;
  remote.Write(0, &item, sizeof item);
  DWORD_PTR done = 0;
  SendMessageTimeoutW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(remote.at(0)),
                      SMTO_NORMAL, 2000, &done);
  return done ? 0 : Fail(L"cannot select row %ls", std::to_wstring(row));
}

int DoubleClickRow(HWND window, int id, int row) {
  HWND list = FindControl(window, id);
  if (!list) return Fail(L"no control %ls", std::to_wstring(id));
  RemoteBuffer remote(list, sizeof(RECT));
  if (!remote.ok()) return Fail(L"cannot reach the list's process");
  RECT bounds{};
  bounds.left = LVIR_LABEL;
  remote.Write(0, &bounds, sizeof bounds);
  DWORD_PTR found = 0;
  SendMessageTimeoutW(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(remote.at(0)),
                      SMTO_NORMAL, 2000, &found);
  if (!found) return Fail(L"no row %ls", std::to_wstring(row));
  remote.Read(0, &bounds, sizeof bounds);
  const LPARAM at = MAKELPARAM((bounds.left + bounds.right) / 2, (bounds.top + bounds.bottom) / 2);
  // Posted: a double-click that acts as OK ends a modal dialog.
  PostMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
  PostMessageW(list, WM_LBUTTONUP, 0, at);
  return 0;
}

BOOL CALLBACK ListChild(HWND child, LPARAM) {
  Print(std::to_wstring(GetDlgCtrlID(child)) + L" " + ClassOf(child) + L" " + TextOf(child));
  return TRUE;
}

BOOL CALLBACK ListTopLevel(HWND window, LPARAM) {
  if (IsWindowVisible(window)) Print(Hex(window) + L" " + ClassOf(window) + L" " + TextOf(window));
  return TRUE;
}

int Quit(HWND window) {
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  if (!process) return Fail(L"cannot watch the window's process");
  PostMessageW(window, WM_CLOSE, 0, 0);
  DWORD result = WaitForSingleObject(process, TimeoutMs());
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  if (result != WAIT_OBJECT_0) return Fail(L"the process did not end");
  Print(std::to_wstring(code));
  return 0;
}

int Version(const std::wstring& file, const std::wstring& key) {
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
  if (!size) return Fail(L"no version record in %ls", file);
  std::vector<BYTE> data(size);
  if (!GetFileVersionInfoW(file.c_str(), 0, size, data.data()))
    return Fail(L"cannot read %ls", file);
  struct Translation {
    WORD language, codePage;
  }* translation = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation",
                      reinterpret_cast<void**>(&translation), &length) ||
      length < sizeof *translation)
    return Fail(L"no translation in %ls", file);
  wchar_t path[128];
  swprintf(path, 128, L"\\StringFileInfo\\%04x%04x\\%ls", translation->language,
           translation->codePage, key.c_str());
  wchar_t* value = nullptr;
  if (!VerQueryValueW(data.data(), path, reinterpret_cast<void**>(&value), &length))
    return Fail(L"no %ls in the version record", key);
  Print(value);
  return 0;
}

double Seconds() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The newest "stream,K" line edit control `control` shows (among its last
// few lines), as K; -1 when none. The sent messages' answer times go into
// `longest` (seconds), the control's line count into `held`. -2 when the
// window did not answer within 30 s. A message refused at once is asked
// again with the next sample: under Wine an EM_GETLINE for a line that went
// between the two messages (the pane was emptied) can fail that way.
long NewestStreamLine(HWND control, double& longest, long& held) {
  constexpr UINT kTimeoutMs = 30000;
  bool timedOut = false;
  auto ask = [&](UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR& result) {
    const double asked = Seconds();
    const bool answered = SendMessageTimeoutW(control, message, wParam, lParam, SMTO_NORMAL,
                                              kTimeoutMs, &result) != 0;
    const double waited = Seconds() - asked;
    longest = std::max(longest, waited);
    timedOut = !answered && waited * 1000.0 >= kTimeoutMs - 100;
    return answered;
  };
  DWORD_PTR count = 0;
  if (!ask(EM_GETLINECOUNT, 0, 0, count)) return timedOut ? -2 : -1;
  held = static_cast<long>(count) - 1;  // the last line is the empty one after the final line end
  for (long line = static_cast<long>(count) - 2; line >= 0 && line >= static_cast<long>(count) - 6;
       --line) {
    wchar_t text[64] = {};
    *reinterpret_cast<WORD*>(text) = 63;
    DWORD_PTR copied = 0;
    if (!ask(EM_GETLINE, line, reinterpret_cast<LPARAM>(text), copied)) {
      if (timedOut) return -2;
      continue;
    }
    text[std::min<DWORD_PTR>(copied, 63)] = 0;
    if (wcsncmp(text, L"stream,", 7) == 0) return wcstol(text + 7, nullptr, 10);
  }
  return -1;
}

// Asks the control every few ms until `done` (given the newest K and the
// seconds since the start) says so, or no new line came for 30 s.
template <typename Done>
int Watch(HWND control, Done done) {
  double longest = 0.0;
  long held = 0;
  const double start = Seconds();
  double lastProgress = start;
  long first = -1;
  double firstSeen = start;
  long last = -1;
  for (;;) {
    const long sample = NewestStreamLine(control, longest, held);
    if (sample == -2) return Fail(L"the window did not answer for 30 s");
    const double now = Seconds();
    if (sample >= 0) {  // the newest line seen so far, whatever a sample missed
      if (sample != last) lastProgress = now;
      last = sample;
      if (first < 0) {
        first = sample;
        firstSeen = now;
      }
    }
    const long newest = last;
    if (now - lastProgress > 30.0)
      return Fail(L"no new line for 30 s at %ls", std::to_wstring(newest));
    if (done(newest, now - start)) {
      wchar_t row[128];
      swprintf(row, 128, L"%ld %.0f %.1f %ld", newest,
               static_cast<double>(newest - std::max(first, 0L)) / std::max(now - firstSeen, 1e-3),
               longest * 1000.0, held);
      Print(row);
      return 0;
    }
    Sleep(5);
  }
}

int Probe(HWND window, int id, const std::vector<long>& targets) {
  HWND control = FindControl(window, id);
  if (!control) return Fail(L"no control %ls", std::to_wstring(id));
  for (long target : targets) {
    if (int status = Watch(control, [&](long newest, double) { return newest >= target; }))
      return status;
  }
  return 0;
}

int VerifyStream(HWND window, int id) {
  HWND control = FindControl(window, id);
  if (!control) return Fail(L"no control %ls", std::to_wstring(id));
  const std::wstring text = TextOf(control, 120000);
  long first = -1;
  long expected = -1;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find(L"\r\n", at);
    if (end == std::wstring::npos) end = text.size();
    const std::wstring line = text.substr(at, end - at);
    at = end + 2;
    if (line.rfind(L"stream,", 0) != 0) continue;
    const long n = wcstol(line.c_str() + 7, nullptr, 10);
    if (first < 0) first = expected = n;
    if (n != expected || line.substr(line.find(L',', 7)) != L",1.234")
      return Fail(L"line out of order or changed: %ls", line);
    ++expected;
  }
  if (first < 0) return Fail(L"no stream line");
  Print(std::to_wstring(first) + L" " + std::to_wstring(expected - 1));
  return 0;
}

LRESULT CALLBACK BaselineProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(window, message, wParam, lParam);
}

void Pump() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

// The results pane's edit control alone: the same class (common controls 6,
// as the program's manifest asks), styles, size and font, created and
// appended to with the ANSI calls the program uses; each append painted
// before the next.
class BareEdit {
 public:
  BareEdit() {
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&classes);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = BaselineProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"Parlex2EditBaseline";
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    RegisterClassW(&windowClass);
    window_ =
        CreateWindowExW(0, windowClass.lpszClassName, L"baseline", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                        0, 0, 700, 600, nullptr, nullptr, windowClass.hInstance, nullptr);
    edit_ = CreateWindowExA(WS_EX_CLIENTEDGE, "Edit", "",
                            WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE |
                                ES_AUTOVSCROLL | ES_AUTOHSCROLL,
                            6, 6, 648, 514, window_, nullptr, windowClass.hInstance, nullptr);
    SendMessageA(edit_, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(ANSI_FIXED_FONT)),
                 FALSE);
    SendMessageA(edit_, EM_SETLIMITTEXT, 0, 0);
    Pump();
  }
  ~BareEdit() { DestroyWindow(window_); }

  long lines() const { return lines_; }

  // Replaces the text with `count` stream lines in one go (appending them
  // would cost minutes at a million lines) and scrolls to the end.
  void Fill(long count) {
    next_ = 0;
    const std::string text = Text(count);
    SetWindowTextA(edit_, text.c_str());
    length_ = text.size();
    lines_ = count;
    SendMessageA(edit_, EM_SETSEL, length_, length_);
    SendMessageA(edit_, EM_SCROLLCARET, 0, 0);
    UpdateWindow(edit_);
    Pump();
  }

  // Appends `count` stream lines (as the simulator sends them); the seconds
  // it took, painting included.
  double Append(long count) {
    const std::string text = Text(count);
    const double start = Seconds();
    SendMessageA(edit_, EM_SETSEL, length_, length_);
    SendMessageA(edit_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
    UpdateWindow(edit_);
    Pump();
    length_ += text.size();
    lines_ += count;
    return Seconds() - start;
  }

  // Removes the oldest `count` lines as the program does, painting included.
  double RemoveOldest(long count) {
    const double start = Seconds();
    const LRESULT end = SendMessageA(edit_, EM_LINEINDEX, count, 0);
    SendMessageA(edit_, WM_SETREDRAW, FALSE, 0);
    SendMessageA(edit_, EM_SETSEL, 0, end);
    SendMessageA(edit_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(""));
    length_ -= static_cast<std::size_t>(end);
    SendMessageA(edit_, EM_SETSEL, length_, length_);
    SendMessageA(edit_, EM_SCROLLCARET, 0, 0);
    SendMessageA(edit_, WM_SETREDRAW, TRUE, 0);
    RedrawWindow(edit_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW);
    Pump();
    lines_ -= count;
    return Seconds() - start;
  }

 private:
  // The next `count` stream lines, as the simulator sends them.
  std::string Text(long count) {
    std::string text;
    char line[64];
    for (long i = 0; i < count; ++i) {
      snprintf(line, sizeof line, "stream,%ld,1.234\r\n", ++next_);
      text += line;
    }
    return text;
  }

  HWND window_ = nullptr;
  HWND edit_ = nullptr;
  std::size_t length_ = 0;
  long lines_ = 0;
  long next_ = 0;
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

int EditBaseline(const std::vector<long>& sizes) {
  BareEdit edit;
  constexpr long kBatch = 1000;
  constexpr long kTrim = 1000;
  for (long size : sizes) {
    // Filled to 5000 lines short of SIZE, five appends of 1000 lines up to
    // it, three of 10, then the removal of the oldest lines.
    edit.Fill(std::max(size - 5 * kBatch, 0L));
    std::vector<double> batches, tens;
    double batchSeconds = 0.0;
    for (int i = 0; i < 5; ++i) {
      batches.push_back(edit.Append(kBatch));
      batchSeconds += batches.back();
    }
    for (int i = 0; i < 3; ++i) tens.push_back(edit.Append(10));
    const double trim = edit.RemoveOldest(kTrim);
    wchar_t row[160];
    swprintf(row, 160, L"%ld %.0f %.1f %.1f %.1f", size, 5.0 * kBatch / batchSeconds,
             Median(tens) * 1000.0, Median(batches) * 1000.0, trim * 1000.0);
    Print(row);
  }
  return 0;
}

struct Command;

// What a command is given: its words (its name first), and once found, the
// window its WINDOW names and the control ID after it.
struct Call {
  const Command& command;
  const Args& args;
  HWND window = nullptr;
  int id = 0;

  int Usage() const;  // the command's own usage line; status 2
};

// What a command's first arguments name, found before the command runs.
enum class Target {
  None,     // nothing: the arguments are the command's own
  Name,     // WINDOW, as written (not waited for)
  Window,   // WINDOW, waited for
  Control,  // WINDOW, waited for, and a control ID in it
};

struct Command {
  const wchar_t* name;
  // "WINDOW ID [MARK]": a word in brackets may be left out, one ending in
  // "..." may be repeated. The words not in brackets must all be given.
  const wchar_t* arguments;
  Target target;
  int (*run)(const Call& call);
  const wchar_t* what;
};

int Show(const Call& c) {
  const int how = c.args[2] == L"min"       ? SW_MINIMIZE
                  : c.args[2] == L"max"     ? SW_MAXIMIZE
                  : c.args[2] == L"restore" ? SW_RESTORE
                                            : -1;
  if (how < 0) return c.Usage();
  ShowWindowAsync(c.window, how);
  DWORD start = GetTickCount();
  auto done = [&] {
    return how == SW_MINIMIZE   ? IsIconic(c.window)
           : how == SW_MAXIMIZE ? IsZoomed(c.window)
                                : !IsIconic(c.window) && !IsZoomed(c.window);
  };
  while (!done()) {
    if (GetTickCount() - start > TimeoutMs()) return Fail(L"%ls did not change", c.args[1]);
    Sleep(10);
  }
  return 0;
}

int State(const Call& c) {
  HWND control = FindControl(c.window, c.id);
  if (!control) return Fail(L"no control %ls", c.args[2]);
  RECT r{};
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
  Print(std::wstring(IsWindowEnabled(control) ? L"enabled" : L"disabled") +
        (IsWindowVisible(control) ? L" visible " : L" hidden ") + std::to_wstring(r.left) + L" " +
        std::to_wstring(r.top) + L" " + std::to_wstring(r.right - r.left) + L" " +
        std::to_wstring(r.bottom - r.top));
  return 0;
}

int ClickLine(const Call& c) {
  HWND control = FindControl(c.window, c.id);
  if (!control) return c.Usage();
  DWORD_PTR first = 0;
  DWORD_PTR position = 0;
  if (!SendMessageTimeoutW(control, EM_LINEINDEX, Number(c.args[3]), 0, SMTO_NORMAL, TimeoutMs(),
                           &first) ||
      static_cast<LONG_PTR>(first) < 0 ||
      !SendMessageTimeoutW(control, EM_POSFROMCHAR, first, 0, SMTO_NORMAL, TimeoutMs(), &position))
    return Fail(L"no line %ls", c.args[3]);
  LPARAM at = MAKELPARAM(LOWORD(position) + 3, HIWORD(position) + 3);
  PostMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageW(control, WM_LBUTTONUP, 0, at);
  return 0;
}

int Address(const Call& c) {
  HWND control = FindControl(c.window, c.id);
  if (!control) return c.Usage();
  DWORD_PTR result;
  if (c.args[3] == L"blank")
    return SendMessageTimeoutW(control, IPM_CLEARADDRESS, 0, 0, SMTO_NORMAL, TimeoutMs(), &result)
               ? 0
               : Fail(L"cannot clear %ls", c.args[2]);
  unsigned a, b, d, e;
  if (swscanf(c.args[3].c_str(), L"%u.%u.%u.%u", &a, &b, &d, &e) != 4) return c.Usage();
  return SendMessageTimeoutW(control, IPM_SETADDRESS, 0, MAKEIPADDRESS(a, b, d, e), SMTO_NORMAL,
                             TimeoutMs(), &result)
             ? 0
             : Fail(L"cannot set %ls", c.args[2]);
}

LPARAM Mark(const Call& c) { return c.args.size() > 3 ? Number(c.args[3]) : 0; }

std::vector<long> Longs(const Args& args, std::size_t from) {
  std::vector<long> values;
  for (std::size_t i = from; i < args.size(); ++i)
    values.push_back(wcstol(args[i].c_str(), nullptr, 10));
  return values;
}

const Command kCommands[] = {
    {L"start", L"EXE [ARGS...]", Target::None, [](const Call& c) { return Start(c.args); },
     L"start EXE, wait for its first visible top-level window; prints its process id"},
    {L"wait", L"WINDOW", Target::Window,
     [](const Call& c) {
       Print(Hex(c.window));
       return 0;
     },
     L"wait until WINDOW exists; prints its handle"},
    {L"gone", L"WINDOW", Target::Name, [](const Call& c) { return WaitGone(c.args[1]); },
     L"wait until no such window exists"},
    {L"title", L"WINDOW", Target::Window,
     [](const Call& c) {
       Print(TextOf(c.window));
       return 0;
     },
     L"the window's caption"},
    {L"rect", L"WINDOW", Target::Window,
     [](const Call& c) {
       RECT r;
       GetWindowRect(c.window, &r);
       Print(std::to_wstring(r.left) + L" " + std::to_wstring(r.top) + L" " +
             std::to_wstring(r.right - r.left) + L" " + std::to_wstring(r.bottom - r.top));
       return 0;
     },
     L"outer \"left top width height\""},
    {L"client", L"WINDOW", Target::Window,
     [](const Call& c) {
       RECT r;
       GetClientRect(c.window, &r);
       Print(std::to_wstring(r.right) + L" " + std::to_wstring(r.bottom));
       return 0;
     },
     L"client \"width height\""},
    {L"resize", L"WINDOW W H", Target::Window,
     [](const Call& c) {
       return SetWindowPos(c.window, nullptr, 0, 0, Number(c.args[2]), Number(c.args[3]),
                           SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE)
                  ? 0
                  : Fail(L"cannot resize %ls", c.args[1]);
     },
     L"set the outer size, as a drag would"},
    {L"show", L"WINDOW HOW", Target::Window, Show, L"HOW: min, max or restore"},
    {L"text", L"WINDOW ID", Target::Control,
     [](const Call& c) {
       HWND control = FindControl(c.window, c.id);
       if (!control) return Fail(L"no control %ls", c.args[2]);
       Print(TextOf(control));
       return 0;
     },
     L"the text of control ID"},
    {L"texts", L"WINDOW", Target::Window,
     [](const Call& c) {
       EnumChildWindows(c.window, ListChild, 0);
       return 0;
     },
     L"every child: \"ID class text\", one a line"},
    {L"post", L"WINDOW ID [MARK]", Target::Control,
     [](const Call& c) {
       return PostMessageW(c.window, WM_COMMAND, c.id, Mark(c)) ? 0 : Fail(L"post failed");
     },
     L"post a command (never blocks)"},
    {L"send", L"WINDOW ID [MARK]", Target::Control,
     [](const Call& c) {
       DWORD_PTR result;
       return SendMessageTimeoutW(c.window, WM_COMMAND, c.id, Mark(c), SMTO_NORMAL, TimeoutMs(),
                                  &result)
                  ? 0
                  : Fail(L"the command was not done in time");
     },
     L"send a command, wait for it to be done"},
    {L"press", L"WINDOW ID", Target::Control,
     [](const Call& c) {
       HWND control = FindControl(c.window, c.id);
       if (!control) return Fail(L"no control %ls", c.args[2]);
       return PostMessageW(control, BM_CLICK, 0, 0) ? 0 : Fail(L"press failed");
     },
     L"click button ID (posted)"},
    {L"type", L"WINDOW ID TEXT", Target::Control,
     [](const Call& c) {
       HWND control = FindControl(c.window, c.id);
       if (!control) return c.Usage();
       DWORD_PTR result;
       return SendMessageTimeoutW(control, WM_SETTEXT, 0,
                                  reinterpret_cast<LPARAM>(c.args[3].c_str()), SMTO_NORMAL,
                                  TimeoutMs(), &result)
                  ? 0
                  : Fail(L"cannot type into %ls", c.args[2]);
     },
     L"set the text of edit ID"},
    {L"focus", L"WINDOW", Target::Window,
     [](const Call& c) {
       GUITHREADINFO info{};
       info.cbSize = sizeof info;
       DWORD thread = GetWindowThreadProcessId(c.window, nullptr);
       Print(std::to_wstring(
           GetGUIThreadInfo(thread, &info) && info.hwndFocus ? GetDlgCtrlID(info.hwndFocus) : 0));
       return 0;
     },
     L"the ID of the control with WINDOW's thread's keyboard focus (0: none)"},
    {L"state", L"WINDOW ID", Target::Control, State,
     L"control ID as \"enabled|disabled visible|hidden x y w h\" (client place)"},
    {L"waittext", L"WINDOW ID TEXT", Target::Control,
     [](const Call& c) {
       HWND control = FindControl(c.window, c.id);
       if (!control) return c.Usage();
       DWORD start = GetTickCount();
       while (TextOf(control).find(c.args[3]) == std::wstring::npos) {
         if (GetTickCount() - start > TimeoutMs()) return Fail(L"no %ls in the text", c.args[3]);
         Sleep(10);
       }
       return 0;
     },
     L"wait until control ID's text holds TEXT"},
    {L"clickline", L"WINDOW ID N", Target::Control, ClickLine,
     L"click (down and up) on line N (from 0) of edit control ID, as a user's mouse would"},
    {L"probe", L"WINDOW ID N...", Target::Control,
     [](const Call& c) { return Probe(c.window, c.id, Longs(c.args, 3)); },
     L"while the simulator's stream fills edit control ID, asks it for its newest \"stream,K\" "
     L"line with sent messages every few ms; for each N, once K reaches N, prints \"N lines/s "
     L"longest-ms held\": the rate of K since the previous N (or since the first K seen), the "
     L"longest the window took to answer meanwhile, and the lines the control holds"},
    {L"watch", L"WINDOW ID MS", Target::Control,
     [](const Call& c) {
       HWND control = FindControl(c.window, c.id);
       if (!control) return c.Usage();
       const double seconds = wcstol(c.args[3].c_str(), nullptr, 10) / 1000.0;
       return Watch(control, [&](long, double elapsed) { return elapsed >= seconds; });
     },
     L"the same for MS milliseconds: prints \"K lines/s longest-ms held\""},
    {L"verifystream", L"WINDOW ID", Target::Control,
     [](const Call& c) { return VerifyStream(c.window, c.id); },
     L"checks that the \"stream,K,...\" lines of edit control ID run on without a gap; prints "
     L"\"first last\" K"},
    {L"editbaseline", L"[SIZE...]", Target::None,
     [](const Call& c) {
       std::vector<long> sizes = Longs(c.args, 1);
       if (sizes.empty()) sizes = {10000};
       return EditBaseline(sizes);
     },
     L"a bare visible edit control of the results pane's class, size and font; for each SIZE "
     L"(10000 if none), filled in one go to 5000 lines short of it and appended to, prints "
     L"\"SIZE lines/s append10-ms append1000-ms trim-ms\": its rate appending 1000 lines at a "
     L"time, one append of 10 and of 1000 lines, and removing its oldest 1000 lines"},
    {L"items", L"WINDOW ID", Target::Control, [](const Call& c) { return Items(c.window, c.id); },
     L"the entries of list or combo box ID, one a line, the selected one marked '*'"},
    {L"pick", L"WINDOW ID N|TEXT", Target::Control,
     [](const Call& c) { return Pick(c.window, c.id, c.args[3]); },
     L"select a list or combo box entry and tell the parent as a user's pick would (a combo "
     L"box: CBN_SELCHANGE, CBN_SELENDOK)"},
    {L"key", L"WINDOW KEYS", Target::Window,
     [](const Call& c) { return PostKeys(c.window, Words(c.args, 2)); },
     L"post key presses to WINDOW's focus"},
    {L"input", L"WINDOW KEYS", Target::Window,
     [](const Call& c) { return InputKeys(c.window, Words(c.args, 2)); },
     L"bring WINDOW to the front and type KEYS as real input (needed for accelerators)"},
    {L"close", L"WINDOW", Target::Window,
     [](const Call& c) {
       PostMessageW(c.window, WM_CLOSE, 0, 0);
       return WaitGone(Hex(c.window));
     },
     L"post WM_CLOSE; wait until it is gone"},
    {L"quit", L"WINDOW", Target::Window, [](const Call& c) { return Quit(c.window); },
     L"post WM_CLOSE; wait for the window's process to end; prints its exit code"},
    {L"owner", L"WINDOW", Target::Window,
     [](const Call& c) {
       HWND owner = GetWindow(c.window, GW_OWNER);
       Print(owner ? ClassOf(owner) + L" " + TextOf(owner) : L"none");
       return 0;
     },
     L"the owner window: \"class title\", or \"none\""},
    {L"address", L"WINDOW ID IP", Target::Control, Address,
     L"put IP (a.b.c.d, or \"blank\") into the IP address control ID"},
    {L"rows", L"WINDOW ID", Target::Control, [](const Call& c) { return Rows(c.window, c.id); },
     L"the rows of list view ID, columns separated by a tab, the selected ones marked '*'"},
    {L"select", L"WINDOW ID ROW", Target::Control,
     [](const Call& c) { return SelectRow(c.window, c.id, Number(c.args[3])); },
     L"select and focus row ROW of list view ID"},
    {L"dblclick", L"WINDOW ID ROW", Target::Control,
     [](const Call& c) { return DoubleClickRow(c.window, c.id, Number(c.args[3])); },
     L"double-click row ROW of list view ID"},
    {L"windows", L"", Target::None,
     [](const Call&) {
       EnumWindows(ListTopLevel, 0);
       return 0;
     },
     L"every visible top-level window: \"handle class title\", one a line"},
    {L"metrics", L"", Target::None,
     [](const Call&) {
       Print(std::to_wstring(GetSystemMetrics(SM_CXSCREEN)) + L" " +
             std::to_wstring(GetSystemMetrics(SM_CYSCREEN)) + L" " +
             std::to_wstring(GetSystemMetrics(SM_CXSIZEFRAME)) + L" " +
             std::to_wstring(GetSystemMetrics(SM_CYSIZEFRAME)));
       return 0;
     },
     L"\"screenW screenH frameW frameH\""},
    {L"version", L"FILE KEY", Target::None,
     [](const Call& c) { return Version(c.args[1], c.args[2]); },
     L"a string of FILE's version record"},
};

const wchar_t kNotes[] =
    L"WINDOW: \"class=NAME\", \"dialog=TITLE\" (a dialog or message box), \"title=TEXT\" or a "
    L"handle such as 0x1a2b. KEYS: names joined by '+' for a chord, chords separated by blanks: "
    L"\"alt+/\", \"alt+shift+/\", \"esc\", \"enter\", \"tab\", \"a\". Waits end after "
    L"UIDRIVER_TIMEOUT_MS (default 10000). Exit status 0 on success, 1 on failure or time-out "
    L"(with a message on standard error), 2 for bad usage.";

// The words of `arguments` that must be given.
std::size_t Needed(const Command& command) {
  std::size_t needed = 0;
  for (const std::wstring& word : Words({command.arguments}, 0)) needed += word[0] != L'[';
  return needed;
}

// `text` on standard error in lines of at most `width` characters, each
// after `indent` blanks; `first` blanks fewer on the first line, which goes
// on where the caller left it.
void PrintWrapped(const std::wstring& text, std::size_t indent, std::size_t first,
                  std::size_t width) {
  std::size_t column = first;
  bool lineStart = true;
  for (const std::wstring& word : Words({text}, 0)) {
    if (!lineStart && column + 1 + word.size() > indent + width) {
      fwprintf(stderr, L"\n%*ls", static_cast<int>(indent), L"");
      column = indent;
      lineStart = true;
    }
    if (!lineStart) {
      fwprintf(stderr, L" ");
      ++column;
    } else if (column < indent) {
      fwprintf(stderr, L"%*ls", static_cast<int>(indent - column), L"");
      column = indent;
    }
    fwprintf(stderr, L"%ls", word.c_str());
    column += word.size();
    lineStart = false;
  }
  fwprintf(stderr, L"\n");
}

void PrintCommand(const Command& command) {
  constexpr std::size_t kWhatAt = 34;
  std::wstring synopsis = L"  uidriver " + std::wstring(command.name);
  if (*command.arguments) synopsis += L" " + std::wstring(command.arguments);
  fwprintf(stderr, L"%ls", synopsis.c_str());
  if (synopsis.size() + 2 > kWhatAt) {  // too long to share the line
    fwprintf(stderr, L"\n");
    synopsis.clear();
  }
  PrintWrapped(command.what, kWhatAt, synopsis.size(), 78 - kWhatAt);
}

// Every command, and what WINDOW and KEYS are; status 2.
int Usage() {
  fwprintf(stderr, L"usage: uidriver COMMAND [ARGS...]\n");
  for (const Command& command : kCommands) PrintCommand(command);
  PrintWrapped(kNotes, 0, 0, 78);
  return 2;
}

int Call::Usage() const {
  fwprintf(stderr, L"usage:\n");
  PrintCommand(command);
  return 2;
}

int Run(const Args& args) {
  if (args.empty()) return Usage();
  const auto command = std::find_if(std::begin(kCommands), std::end(kCommands),
                                    [&](const Command& c) { return args[0] == c.name; });
  if (command == std::end(kCommands)) return Usage();
  Call call{*command, args};
  const std::size_t given = args.size() - 1;
  if (command->target == Target::None)
    return given < Needed(*command) ? call.Usage() : command->run(call);

  if (given < 1 || !ValidSpec(args[1])) return call.Usage();
  if (command->target == Target::Name) return command->run(call);
  // The window is waited for before the words after it are counted: one
  // that never comes is the failure reported.
  call.window = WaitFor(args[1]);
  if (!call.window) return Fail(L"no window %ls", args[1]);
  if (given < Needed(*command)) return call.Usage();
  if (command->target == Target::Control) call.id = Number(args[2]);
  return command->run(call);
}

}  // namespace

int main() {
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
  Args args;
  for (int i = 1; i < count; ++i) args.emplace_back(argv[i]);
  LocalFree(argv);
  return Run(args);
}
