// The window wrapper every other class builds on, and the message box seam.
#pragma once

#include <windows.h>

#include <string>

// ---- Message boxes ---------------------------------------------------------

// Every box of the program goes through this one function, so that tests
// can record what would be shown instead of showing it.
using MessageBoxFunction = int(WINAPI*)(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);

// Installs `fn` (null: the platform's MessageBoxW) and returns the previous one.
MessageBoxFunction SetMessageBoxFunction(MessageBoxFunction fn);

// A modal box owned by `owner`, captioned with the application's name.
int ShowMessageBox(HWND owner, LPCWSTR text, UINT type = MB_ICONERROR | MB_OK);

// The executable's file name without folder and extension.
const std::wstring& AfxGetAppName();

HINSTANCE AfxGetInstanceHandle();

// The system's sentence for a Win32 error code, without the trailing newline.
std::wstring SystemErrorText(DWORD error);

// ---- CWnd ------------------------------------------------------------------

// A window handle and one-line operations on it. A wrapper that holds no
// window does nothing when told to act and answers 0 when asked.
class CWnd {
 public:
  CWnd() = default;
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;
  virtual ~CWnd() = default;

  // Attributes
  HWND m_hWnd = nullptr;
  void Attach(HWND hwnd) { m_hWnd = hwnd; }
  HWND Detach() {
    HWND h = m_hWnd;
    m_hWnd = nullptr;
    return h;
  }

  // Operations
  LRESULT SendMessage(UINT msg, WPARAM wp = 0, LPARAM lp = 0) const {
    return m_hWnd ? ::SendMessageW(m_hWnd, msg, wp, lp) : 0;
  }
  BOOL EnableWindow(BOOL enable = TRUE) const {
    return m_hWnd ? ::EnableWindow(m_hWnd, enable) : FALSE;
  }
  BOOL IsWindowEnabled() const { return m_hWnd ? ::IsWindowEnabled(m_hWnd) : FALSE; }
  BOOL IsIconic() const { return m_hWnd ? ::IsIconic(m_hWnd) : FALSE; }
  void SetWindowText(LPCWSTR text) const {
    if (m_hWnd) ::SetWindowTextW(m_hWnd, text);
  }
  std::wstring GetWindowText() const;
  void GetClientRect(RECT* rect) const {
    if (!m_hWnd || !::GetClientRect(m_hWnd, rect)) *rect = RECT{};
  }
  HMENU GetSystemMenu(BOOL revert) const {
    return m_hWnd ? ::GetSystemMenu(m_hWnd, revert) : nullptr;
  }
  HICON SetIcon(HICON icon, BOOL big) const {
    return reinterpret_cast<HICON>(
        SendMessage(WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon)));
  }
  // Centres the window over `over` when that is a visible, restored
  // window; otherwise over the work area of the window's monitor.
  void CenterWindow(HWND over = nullptr) const;
};
