// The main dialog's source list has no window in the product; tests and
// the bench give it one, at selection 1, so the save command dumps the DSP
// EEPROM.
#pragma once

#include "app/board_flash_dlg.h"

inline void ChooseDspSource(CBoardFlashDlg& dlg) {
  HWND combo = ::CreateWindowExW(0, L"COMBOBOX", L"", WS_CHILD | CBS_DROPDOWNLIST, 0, 0, 50, 80,
                                 dlg.m_hWnd, nullptr, nullptr, nullptr);
  ::SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"Board EEPROM"));
  ::SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"DSP EEPROM"));
  ::SendMessageW(combo, CB_SETCURSEL, 1, 0);
  dlg.m_cbSource.Attach(combo);
}
