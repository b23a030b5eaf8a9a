// Driving modal loops from inside: a step runs from a thread timer, which
// any modal loop (a dialog's, a message box's) dispatches.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <utility>

namespace modal {

inline std::map<UINT_PTR, std::function<void()>>& Pending() {
  static std::map<UINT_PTR, std::function<void()>> pending;
  return pending;
}

inline void CALLBACK Fire(HWND, UINT, UINT_PTR id, DWORD) {
  ::KillTimer(nullptr, id);
  auto it = Pending().find(id);
  if (it == Pending().end()) return;
  std::function<void()> step = std::move(it->second);
  Pending().erase(it);
  step();
}

// Runs `step` once the current thread next dispatches messages.
inline void Soon(std::function<void()> step, UINT delayMs = 1) {
  UINT_PTR id = ::SetTimer(nullptr, 0, delayMs, Fire);
  Pending()[id] = std::move(step);
}

// Drops steps that never ran, so they cannot fire into the next test.
inline void Clear() {
  for (auto& [id, step] : Pending()) ::KillTimer(nullptr, id);
  Pending().clear();
}

inline std::wstring Text(HWND hwnd) {
  wchar_t buffer[1024] = {};
  ::GetWindowTextW(hwnd, buffer, 1024);
  return buffer;
}

// A visible dialog window of this thread with that caption, or null.
inline HWND FindDialog(const std::wstring& caption) {
  struct Search {
    const std::wstring& caption;
    HWND found;
  } search{caption, nullptr};
  ::EnumThreadWindows(
      ::GetCurrentThreadId(),
      [](HWND hwnd, LPARAM lp) CALLBACK -> BOOL {
        auto* s = reinterpret_cast<Search*>(lp);
        wchar_t cls[64] = {};
        ::GetClassNameW(hwnd, cls, 64);
        if (std::wstring(cls) == L"#32770" && ::IsWindowVisible(hwnd) && Text(hwnd) == s->caption) {
          s->found = hwnd;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace modal

#include <gtest/gtest.h>

namespace modal {

// Ends every dialog of this thread: the last resort of a script that went wrong.
inline void CALLBACK Watchdog(HWND, UINT, UINT_PTR id, DWORD) {
  ::KillTimer(nullptr, id);
  ADD_FAILURE() << "a dialog was still open after the watchdog's time";
  ::EnumThreadWindows(
      ::GetCurrentThreadId(),
      [](HWND hwnd, LPARAM) CALLBACK -> BOOL {
        wchar_t cls[64] = {};
        ::GetClassNameW(hwnd, cls, 64);
        if (std::wstring(cls) == L"#32770") ::EndDialog(hwnd, -2);
        return TRUE;
      },
      0);
}

// Runs `run` (which enters a modal loop) with `script` scheduled inside it.
template <class Run>
auto WithScript(Run run, std::function<void()> script, UINT watchdogMs = 30000) {
  Soon(std::move(script));
  UINT_PTR dog = ::SetTimer(nullptr, 0, watchdogMs, Watchdog);
  auto result = run();
  ::KillTimer(nullptr, dog);
  Clear();
  return result;
}

}  // namespace modal
