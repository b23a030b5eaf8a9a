#include "testing/uidriver/uidriver.h"

#include <commctrl.h>
#include <tlhelp32.h>

namespace uidriver {

namespace {

bool IsDialogClass(HWND window) {
  wchar_t name[16];
  return GetClassNameW(window, name, 16) > 0 && lstrcmpW(name, L"#32770") == 0;
}

}  // namespace

bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs, DWORD pollMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    if (done()) return true;
    if (GetTickCount64() >= end) return false;
    Sleep(pollMs);
  }
}

namespace {

struct DialogWalk {
  DWORD pid;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectDialog(HWND window, LPARAM param) {
  auto* walk = reinterpret_cast<DialogWalk*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == walk->pid && IsDialogClass(window)) walk->found.push_back(window);
  return TRUE;
}

}  // namespace

std::vector<HWND> Dialogs(DWORD pid) {
  DialogWalk walk{pid, {}};
  EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&walk));
  return walk.found;
}

HWND FindDialog(DWORD pid, const std::wstring& caption, bool visibleOnly) {
  for (HWND d : Dialogs(pid))
    if (Text(d) == caption && (!visibleOnly || IsWindowVisible(d))) return d;
  return nullptr;
}

HWND FindMessageBox(DWORD pid) {
  // Only once it is visible: a box gets its text and caption while it
  // initialises, after its controls exist.
  for (HWND d : Dialogs(pid))
    if (IsWindowVisible(d) && GetDlgItem(d, MSGBOX_TEXT_ID) && GetDlgItem(d, MSGBOX_ICON_ID) &&
        GetDlgItem(d, IDOK))
      return d;
  return nullptr;
}

std::wstring Text(HWND window) {
  // Served by the window server for another process's window: no waiting
  // on its thread.
  wchar_t buffer[1024];
  const int n = GetWindowTextW(window, buffer, 1024);
  return std::wstring(buffer, n > 0 ? n : 0);
}

std::wstring ItemText(HWND dialog, int id) {
  HWND item = GetDlgItem(dialog, id);
  return item ? Text(item) : std::wstring();
}

bool ItemEnabled(HWND dialog, int id) {
  HWND item = GetDlgItem(dialog, id);
  return item && IsWindowEnabled(item);
}

bool Exists(HWND window) { return IsWindow(window) != FALSE; }

bool ReadProgress(HWND bar, Progress* out, UINT timeoutMs) {
  // A PBRANGE would have to live in the bar's process; without one the
  // answer is the low end (TRUE) or the high end (FALSE).
  // It waits out the timeout rather than giving up on a thread that looks
  // hung: right after a run of more than 5 s (ReFlash) the program's thread
  // counts as hung until it next reads its queue, which on a busy machine
  // may take a moment after the run's last visible step.
  DWORD_PTR low = 0, high = 0, pos = 0;
  if (!SendMessageTimeoutW(bar, PBM_GETRANGE, TRUE, 0, SMTO_NORMAL, timeoutMs, &low) ||
      !SendMessageTimeoutW(bar, PBM_GETRANGE, FALSE, 0, SMTO_NORMAL, timeoutMs, &high) ||
      !SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_NORMAL, timeoutMs, &pos))
    return false;
  out->low = static_cast<int>(low);
  out->high = static_cast<int>(high);
  out->pos = static_cast<int>(pos);
  return true;
}

void Click(HWND dialog, int id) {
  if (HWND button = GetDlgItem(dialog, id)) PostMessageW(button, BM_CLICK, 0, 0);
}

void Command(HWND dialog, int id) { PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, 0), 0); }

void SysCommand(HWND dialog, WPARAM command) { PostMessageW(dialog, WM_SYSCOMMAND, command, 0); }

void PressEscape(HWND dialog) {
  // The modal loop hands a key for the dialog or a control of it to
  // IsDialogMessage, which turns Esc into IDCANCEL.
  HWND target = GetDlgItem(dialog, IDOK);
  if (!target) target = dialog;
  PostMessageW(target, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
  PostMessageW(target, WM_KEYUP, VK_ESCAPE, 0xC0010001);
}

bool AnswerSaveAs(HWND saveAs, const std::wstring& path) {
  HWND field = GetDlgItem(saveAs, FILE_NAME_ID);
  if (!field) return false;
  // A ComboBoxEx32 holds a ComboBox, which holds the Edit; all share the id.
  HWND edit = field;
  for (HWND child; (child = FindWindowExW(edit, nullptr, nullptr, nullptr));) {
    wchar_t name[32];
    GetClassNameW(child, name, 32);
    edit = child;
    if (lstrcmpiW(name, L"Edit") == 0) break;
  }
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()),
                           SMTO_ABORTIFHUNG, 2000, &result))
    return false;
  return PostMessageW(saveAs, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                      reinterpret_cast<LPARAM>(GetDlgItem(saveAs, IDOK))) != FALSE;
}

DWORD FindProcess(const std::wstring& exeName) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  DWORD pid = 0;
  for (BOOL more = Process32FirstW(snapshot, &entry); more && !pid;
       more = Process32NextW(snapshot, &entry))
    if (lstrcmpiW(entry.szExeFile, exeName.c_str()) == 0) pid = entry.th32ProcessID;
  CloseHandle(snapshot);
  return pid;
}

}  // namespace uidriver
