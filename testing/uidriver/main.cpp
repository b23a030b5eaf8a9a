// uidriver <command> [exe-name] [timeout-seconds]: one action on a running
// program's dialogs, for scripts. The e2e tests link the library instead.
//   next   wait for a message box or the visible main dialog; print
//          "box <text>" or "dialog <status line>"
//   ok     press OK on the message box that is up
//   state  print the main dialog's status, buttons and bar
//   reflash  press ReFlash on the main dialog
//   frame  make the box that is up (else the dialog) the active window and
//          print "rect <x> <y> <width> <height> active|inactive": the
//          screen rectangle that holds the dialog and the box, for
//          cropping a screenshot
//   close  answer every box, press Esc and wait for the program to end
//   font <family>  exit 0 if Wine offers that font family (no program
//          needed)
#include "testing/uidriver/uidriver.h"

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace uidriver;

namespace {

constexpr wchar_t kCaption[] = L"Bravik";
constexpr int kStatus = 1004, kProgress = 1013, kReFlash = 1000;

// One line per answer, in UTF-8, so that a script can read it.
void Print(const char* kind, const std::wstring& text) {
  std::wstring line = text;
  for (auto& c : line)
    if (c == L'\r' || c == L'\n') c = L' ';
  char out[2048] = "";
  WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, out, sizeof out, nullptr, nullptr);
  std::printf("%s %s\n", kind, out);
  std::fflush(stdout);
}

int CALLBACK FontFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: uidriver next|ok|state|reflash|frame|close [exe-name] [timeout-s]\n"
                 "       uidriver font <family>\n");
    return 2;
  }
  const std::wstring command = argv[1];
  if (command == L"font") {
    if (argc < 3) return 2;
    LOGFONTW want{};
    want.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(want.lfFaceName, argv[2], LF_FACESIZE);
    bool found = false;
    HDC screen = GetDC(nullptr);
    EnumFontFamiliesExW(screen, &want, FontFound, reinterpret_cast<LPARAM>(&found), 0);
    ReleaseDC(nullptr, screen);
    std::printf("font %ls %s\n", argv[2], found ? "found" : "missing");
    return found ? 0 : 1;
  }
  const std::wstring exe = argc > 2 ? argv[2] : L"REVADAD86IRaziz.exe";
  const DWORD timeout = (argc > 3 ? _wtoi(argv[3]) : 30) * 1000;

  DWORD pid = 0;
  if (!WaitFor([&] { return (pid = FindProcess(exe)) != 0; }, timeout)) {
    std::fprintf(stderr, "uidriver: %ls is not running\n", exe.c_str());
    return 1;
  }

  if (command == L"next") {
    HWND box = nullptr, dialog = nullptr;
    if (!WaitFor(
            [&] {
              box = FindMessageBox(pid);
              dialog = FindDialog(pid, kCaption, true);
              return box || dialog;
            },
            timeout)) {
      std::fprintf(stderr, "uidriver: neither a box nor the dialog came up\n");
      return 1;
    }
    if (box)
      Print("box", ItemText(box, MSGBOX_TEXT_ID));
    else
      Print("dialog", ItemText(dialog, kStatus));
    return 0;
  }
  if (command == L"ok") {
    HWND box = FindMessageBox(pid);
    if (!box) return 1;
    Click(box, IDOK);
    return WaitFor([&] { return !Exists(box); }, timeout) ? 0 : 1;
  }
  if (command == L"state") {
    HWND dialog = FindDialog(pid, kCaption);
    if (!dialog) return 1;
    Print("status", ItemText(dialog, kStatus));
    Progress bar;
    const bool answered = ReadProgress(GetDlgItem(dialog, kProgress), &bar);
    std::printf("exit %s, reflash %s, bar %d..%d at %d%s\n",
                ItemEnabled(dialog, IDOK) ? "enabled" : "disabled",
                ItemEnabled(dialog, kReFlash) ? "enabled" : "disabled", bar.low, bar.high, bar.pos,
                answered ? "" : " (busy)");
    return 0;
  }
  if (command == L"reflash") {
    HWND dialog = FindDialog(pid, kCaption, true);
    if (!dialog) return 1;
    Click(dialog, kReFlash);
    return 0;
  }
  if (command == L"frame") {
    HWND dialog = FindDialog(pid, kCaption, true);
    HWND box = FindMessageBox(pid);
    HWND top = box ? box : dialog;
    if (!top) return 1;
    // A screenshot should show the caption as the user sees it, active. A
    // box that came up over the still hidden dialog is the foreground window
    // yet drawn inactive: activating something else first makes it repaint.
    // Not while its thread is busy in a command; it would stay inactive.
    DWORD_PTR ignored = 0;
    if (SendMessageTimeoutW(top, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 500, &ignored)) {
      SetForegroundWindow(GetDesktopWindow());
      Sleep(100);
    }
    SetForegroundWindow(top);
    const bool active = WaitFor([&] { return GetForegroundWindow() == top; }, 2000);
    RECT all{}, r{};  // UnionRect with an empty rectangle copies the other
    for (HWND w : {dialog, box})
      if (w && GetWindowRect(w, &r)) UnionRect(&all, &all, &r);
    std::printf("rect %ld %ld %ld %ld %s\n", all.left, all.top, all.right - all.left,
                all.bottom - all.top, active ? "active" : "inactive");
    return 0;
  }
  if (command == L"close") {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    const bool ended = WaitFor(
        [&] {
          if (HWND box = FindMessageBox(pid)) {
            Print("answered", ItemText(box, MSGBOX_TEXT_ID));
            Click(box, IDOK);
            Sleep(200);
          } else if (HWND dialog = FindDialog(pid, kCaption)) {
            PressEscape(dialog);
            Sleep(200);
          }
          return !process || WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
        },
        timeout);
    if (process) CloseHandle(process);
    return ended ? 0 : 1;
  }
  std::fprintf(stderr, "uidriver: unknown command\n");
  return 2;
}
