// Drives another process's dialogs the way a user would, without ever
// waiting on that process's thread: texts and enabled states come from the
// window server, queries that need the thread use SendMessageTimeout, and
// every action is posted.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace uidriver {

inline constexpr int MSGBOX_TEXT_ID = 0xFFFF;
inline constexpr int MSGBOX_ICON_ID = 0x440;
inline constexpr int FILE_NAME_ID = 0x47C;  // the Save As dialog's name field

// Polls `done` every `pollMs` until it holds or `timeoutMs` have passed.
// A timing wants a short interval; each poll asks the window server.
bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs, DWORD pollMs = 10);

// The process's top-level dialog windows (class #32770), visible or not.
std::vector<HWND> Dialogs(DWORD pid);
// The first dialog with this caption; null if none (or only hidden ones
// when `visibleOnly`).
HWND FindDialog(DWORD pid, const std::wstring& caption, bool visibleOnly = false);
// A message box of the process: a dialog with the box's text and icon
// controls. Null if none is up.
HWND FindMessageBox(DWORD pid);

std::wstring Text(HWND window);
std::wstring ItemText(HWND dialog, int id);
bool ItemEnabled(HWND dialog, int id);
bool Exists(HWND window);

struct Progress {
  int low = 0, high = 0, pos = 0;
};
// False if the bar's thread did not answer within `timeoutMs`.
bool ReadProgress(HWND bar, Progress* out, UINT timeoutMs = 500);

// Actions, all posted.
void Click(HWND dialog, int id);    // BM_CLICK to the button
void Command(HWND dialog, int id);  // WM_COMMAND with notification code 0
void SysCommand(HWND dialog, WPARAM command);
void PressEscape(HWND dialog);  // the key, as the dialog's own loop sees it

// Types `path` into the Save As dialog's name field and confirms it.
bool AnswerSaveAs(HWND saveAs, const std::wstring& path);

// The process id of a running program with this executable name (e.g.
// "REVADAD86IRaziz.exe"), or 0.
DWORD FindProcess(const std::wstring& exeName);

}  // namespace uidriver
