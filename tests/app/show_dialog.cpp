// Shows the main dialog over a bus double whose board carries the identity
// of one verdict, for screenshots:  boardflash_show <verdict> <marker file>
// The marker file appears once the dialog is on screen; deleting it closes
// the dialog. Error boxes are left out, so that the dialog is what shows.
#include "app/board_flash_dlg.h"
#include "framework/app.h"
#include "testing/doubles/fake_bus.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

int WINAPI NoBox(HWND, LPCWSTR, LPCWSTR, UINT) { return IDOK; }

std::wstring g_marker;
CDialog* g_dialog = nullptr;

void CALLBACK Poll(HWND, UINT, UINT_PTR, DWORD) {
  HWND dialog = g_dialog->m_hWnd;
  if (!dialog || !::IsWindowVisible(dialog)) return;
  static bool announced = false;
  if (!announced) {
    HANDLE h =
        ::CreateFileW(g_marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ::CloseHandle(h);
    announced = true;
  } else if (::GetFileAttributesW(g_marker.c_str()) == INVALID_FILE_ATTRIBUTES) {
    ::EndDialog(dialog, IDCANCEL);
  }
}

class ShowApp : public CWinApp {
} theApp;

}  // namespace

int wmain(int argc, wchar_t** argv) {
  struct Identity {
    const wchar_t* verdict;
    BYTE bytes[4];
  } identities[] = {
      {L"WrongSubVendor", {0xFF, 0xFF, 0xFF, 0xFF}},
      {L"NeedsReflash", {0x2D, 0x6B, 0x21, 0x3A}},
      {L"AlreadyCorrect", {0x2D, 0x6B, 0x2C, 0x3A}},
      {L"OtherBoard", {0x2D, 0x6B, 0x00, 0x00}},
  };
  const Identity* chosen = nullptr;
  for (const Identity& i : identities)
    if (argc == 3 && std::wcscmp(argv[1], i.verdict) == 0) chosen = &i;
  if (!chosen) {
    std::fwprintf(stderr,
                  L"usage: boardflash_show <WrongSubVendor|NeedsReflash|"
                  L"AlreadyCorrect|OtherBoard> <marker file>\n");
    return 2;
  }
  g_marker = argv[2];

  FakeBus bus;
  std::memcpy(bus.devices[BOARD_EEPROM_ADDRESS].memory.data(), chosen->bytes, 4);
  FakeOpener opener(&bus, nullptr);
  FakePacer pacer(nullptr);
  SetMessageBoxFunction(NoBox);

  CBoardFlashDlg dlg(opener, pacer);
  theApp.m_pMainWnd = &dlg;
  g_dialog = &dlg;
  ::SetTimer(nullptr, 0, 100, Poll);
  dlg.DoModal();
  return 0;
}
