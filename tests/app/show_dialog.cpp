// Shows the main dialog over a bus double, for screenshots:
//   boardflash_show <verdict> <marker file>
//     the dialog for the board of one verdict; its error boxes are left
//     out, so that the dialog is what shows;
//   boardflash_show ReFlashFailure <marker file>
//     a NeedsReflash board whose 100th write fails: first the box over the
//     dialog, then the dialog after it.
// The marker file appears once a picture is on screen; deleting it moves
// on to the next one, or closes the dialog after the last.
#include "app/board_flash_dlg.h"
#include "framework/app.h"
#include "testing/doubles/fake_bus.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <functional>
#include <string>
#include <vector>

namespace {

bool g_realBoxes = false;  // boxes before this is set are left out

// With the caption the product's boxes carry, its executable's name, not
// this tool's.
int WINAPI Box(HWND owner, LPCWSTR text, LPCWSTR, UINT type) {
  return g_realBoxes ? ::MessageBoxW(owner, text, L"REVADAD86IRaziz", type) : IDOK;
}

// One picture: `ready` gives the window to leave once the picture is on
// screen (null: not yet); `next` leaves it.
struct Picture {
  std::function<HWND()> ready;
  std::function<void(HWND)> next;
};

std::wstring g_marker;
std::vector<Picture> g_pictures;
size_t g_current = 0;
bool g_announced = false;

bool MarkerExists() { return ::GetFileAttributesW(g_marker.c_str()) != INVALID_FILE_ATTRIBUTES; }

void CALLBACK Poll(HWND, UINT, UINT_PTR, DWORD) {
  if (g_current >= g_pictures.size()) return;
  HWND shown = g_pictures[g_current].ready();
  if (!shown) return;
  if (!g_announced) {
    ::CloseHandle(
        ::CreateFileW(g_marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    g_announced = true;
  } else if (!MarkerExists()) {
    g_announced = false;
    g_pictures[g_current++].next(shown);
  }
}

// A visible box owned by `owner`, or null.
HWND BoxOver(HWND owner) {
  for (HWND w = ::FindWindowExW(nullptr, nullptr, L"#32770", nullptr); w;
       w = ::FindWindowExW(nullptr, w, L"#32770", nullptr))
    if (::GetWindow(w, GW_OWNER) == owner && ::IsWindowVisible(w)) return w;
  return nullptr;
}

class ShowApp : public CWinApp {
} theApp;

}  // namespace

int wmain(int argc, wchar_t** argv) {
  struct Identity {
    const wchar_t* name;
    BYTE bytes[4];
  } identities[] = {
      {L"WrongSubVendor", {0xFF, 0xFF, 0xFF, 0xFF}}, {L"NeedsReflash", {0x2D, 0x6B, 0x21, 0x3A}},
      {L"AlreadyCorrect", {0x2D, 0x6B, 0x2C, 0x3A}}, {L"OtherBoard", {0x2D, 0x6B, 0x00, 0x00}},
      {L"ReFlashFailure", {0x2D, 0x6B, 0x21, 0x3A}},
  };
  const Identity* chosen = nullptr;
  for (const Identity& i : identities)
    if (argc == 3 && std::wcscmp(argv[1], i.name) == 0) chosen = &i;
  if (!chosen) {
    std::fwprintf(stderr,
                  L"usage: boardflash_show <WrongSubVendor|NeedsReflash|"
                  L"AlreadyCorrect|OtherBoard|ReFlashFailure> <marker file>\n");
    return 2;
  }
  g_marker = argv[2];

  FakeBus bus;
  std::memcpy(bus.devices[BOARD_EEPROM_ADDRESS].memory.data(), chosen->bytes, 4);
  FakeOpener opener(&bus, nullptr);
  FakePacer pacer(nullptr);
  SetMessageBoxFunction(Box);

  CBoardFlashDlg dlg(opener, pacer);
  auto dialogUp = [&]() -> HWND {
    return dlg.m_hWnd && ::IsWindowVisible(dlg.m_hWnd) && !BoxOver(dlg.m_hWnd) ? dlg.m_hWnd
                                                                               : nullptr;
  };
  auto close = [](HWND h) { ::EndDialog(h, IDCANCEL); };
  if (std::wcscmp(chosen->name, L"ReFlashFailure") != 0) {
    g_pictures = {{dialogUp, close}};
  } else {
    bool started = false;
    g_pictures = {
        {[&]() -> HWND {
           if (!started && dialogUp()) {
             started = true;
             g_realBoxes = true;
             bus.FailTransfer(100);
             ::PostMessageW(dlg.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_REFLASH, BN_CLICKED), 0);
           }
           return dlg.m_hWnd ? BoxOver(dlg.m_hWnd) : nullptr;
         },
         [](HWND box) { ::PostMessageW(box, WM_COMMAND, IDOK, 0); }},
        {dialogUp, close},
    };
  }
  theApp.m_pMainWnd = &dlg;
  ::SetTimer(nullptr, 0, 100, Poll);
  dlg.DoModal();
  return 0;
}
