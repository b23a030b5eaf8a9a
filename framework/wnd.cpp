#include "framework/wnd.h"

namespace {

MessageBoxFunction g_messageBox = ::MessageBoxW;

}  // namespace

MessageBoxFunction SetMessageBoxFunction(MessageBoxFunction fn) {
  MessageBoxFunction previous = g_messageBox;
  g_messageBox = fn ? fn : ::MessageBoxW;
  return previous;
}

int ShowMessageBox(HWND owner, LPCWSTR text, UINT type) {
  return g_messageBox(owner, text, AfxGetAppName().c_str(), type);
}

HINSTANCE AfxGetInstanceHandle() { return ::GetModuleHandleW(nullptr); }

const std::wstring& AfxGetAppName() {
  static const std::wstring name = [] {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
      DWORD n = ::GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
      if (n < path.size()) {
        path.resize(n);
        break;
      }
      path.resize(path.size() * 2);
    }
    std::wstring file = path.substr(path.find_last_of(L"\\/") + 1);
    return file.substr(0, file.rfind(L'.'));
  }();
  return name;
}

std::wstring SystemErrorText(DWORD error) {
  wchar_t* buffer = nullptr;
  DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
  std::wstring text = n ? std::wstring(buffer, n) : L"error " + std::to_wstring(error);
  ::LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
    text.pop_back();
  return text;
}

std::wstring CWnd::GetWindowText() const {
  if (!m_hWnd) return {};
  std::wstring text(::GetWindowTextLengthW(m_hWnd) + 1, L'\0');
  text.resize(::GetWindowTextW(m_hWnd, &text[0], static_cast<int>(text.size())));
  return text;
}

void CWnd::CenterWindow(HWND over) const {
  if (!m_hWnd) return;
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  ::GetMonitorInfoW(::MonitorFromWindow(over ? over : m_hWnd, MONITOR_DEFAULTTONEAREST), &monitor);
  const RECT area = monitor.rcWork;
  RECT target = area;
  if (over && ::IsWindowVisible(over) && !::IsIconic(over)) ::GetWindowRect(over, &target);

  RECT self;
  ::GetWindowRect(m_hWnd, &self);
  const int w = self.right - self.left, h = self.bottom - self.top;
  int x = (target.left + target.right - w) / 2;
  int y = (target.top + target.bottom - h) / 2;
  // Keep the whole window on the work area where it fits.
  if (x + w > area.right) x = area.right - w;
  if (x < area.left) x = area.left;
  if (y + h > area.bottom) y = area.bottom - h;
  if (y < area.top) y = area.top;
  ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
