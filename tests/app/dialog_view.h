// Reading the main dialog through its windows, and recording message boxes
// instead of showing them.
#pragma once

#include "app/board_flash_dlg.h"
#include "tests/framework/modal_script.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Texts the dialog shows.
inline const std::wstring kInitialStatus =
    L"the Board ID is wrong, Please press \"ReFlash\" button to program eeprom ";
inline const std::wstring kWrongVendor = L"Wrong  KORVEL_Vosk_Board Sub-Vender ID!";
inline const std::wstring kProgramming = L"Programming the Board-EEPROM...";
inline const std::wstring kReFlashed =
    L"Board-EEPROM content successfully written to EEPROM. Please reboot the system to apply the "
    L"new settings!";
inline const std::wstring kReFlashFailed = L"Writing to Board-EEPROM failed!!!";
inline const std::wstring kBoardSaved = L"Board EEPROM content successfully stored to file!";
inline const std::wstring kBoardSaveFailed = L"Reading out Board EEPROM content failed!!!";
inline const std::wstring kDspSaved = L"DSP EEPROM content successfully stored to file!";
inline const std::wstring kDspSaveFailed = L"Reading out DSP EEPROM content failed!!!";
inline const std::wstring kIdentityReadBox = L"ReadEEPROM: I2C-read to Board EEPROM failed";

// What the dialog shows, read through its windows.
struct View {
  std::wstring status;
  int low = -1, high = -1, pos = -1;
  bool exitEnabled = false, reFlashEnabled = false;
};

inline View Look(HWND dlg) {
  View v;
  v.status = modal::Text(::GetDlgItem(dlg, IDC_STATUS));
  HWND bar = ::GetDlgItem(dlg, IDC_PROGRESS);
  PBRANGE range{};
  ::SendMessageW(bar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
  v.low = range.iLow;
  v.high = range.iHigh;
  v.pos = static_cast<int>(::SendMessageW(bar, PBM_GETPOS, 0, 0));
  v.exitEnabled = ::IsWindowEnabled(::GetDlgItem(dlg, IDOK));
  v.reFlashEnabled = ::IsWindowEnabled(::GetDlgItem(dlg, IDC_REFLASH));
  return v;
}

// One recorded box and what the dialog showed at that moment.
struct Box {
  std::wstring text, caption;
  UINT type;
  HWND owner;
  bool ownerVisible;
  View view;
};

inline std::vector<Box>& Boxes() {
  static std::vector<Box> boxes;
  return boxes;
}

inline int WINAPI RecordBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  Boxes().push_back({text, caption, type, owner, ::IsWindowVisible(owner) != FALSE, Look(owner)});
  return IDOK;
}

inline std::vector<std::wstring> Texts(const std::vector<Box>& boxes) {
  std::vector<std::wstring> texts;
  for (const Box& b : boxes) texts.push_back(b.text);
  return texts;
}

// A click on ReFlash, as the button reports it.
inline void ClickReFlash(HWND dlg) {
  ::SendMessageW(dlg, WM_COMMAND, MAKEWPARAM(IDC_REFLASH, BN_CLICKED),
                 reinterpret_cast<LPARAM>(::GetDlgItem(dlg, IDC_REFLASH)));
}

// Ends the dialog the way a user's Esc does.
inline void PressEscape(HWND dlg) {
  HWND focus = ::GetFocus();
  ::PostMessageW(focus ? focus : dlg, WM_KEYDOWN, VK_ESCAPE, 0);
}
