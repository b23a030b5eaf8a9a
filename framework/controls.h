// Control wrappers: a handle and one SendMessage per operation. Without a
// window every query answers 0 (CWnd::SendMessage).
#pragma once

#include "framework/wnd.h"

#include <commctrl.h>

class CButton : public CWnd {};

class CStatic : public CWnd {};

class CEdit : public CWnd {};

class CComboBox : public CWnd {
 public:
  // CB_ERR (-1) when nothing is selected; 0 without a window.
  int GetCurSel() const { return static_cast<int>(SendMessage(CB_GETCURSEL)); }
};

class CProgressCtrl : public CWnd {
 public:
  void SetRange32(int lower, int upper) const { SendMessage(PBM_SETRANGE32, lower, upper); }
  void GetRange(int& lower, int& upper) const {
    PBRANGE range{};
    SendMessage(PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    lower = range.iLow;
    upper = range.iHigh;
  }
  int SetPos(int pos) const { return static_cast<int>(SendMessage(PBM_SETPOS, pos)); }
  int GetPos() const { return static_cast<int>(SendMessage(PBM_GETPOS)); }
};
