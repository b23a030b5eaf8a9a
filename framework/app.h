// The application object: one global instance, whose InitInstance the
// framework's entry point runs.
#pragma once

#include "framework/wnd.h"

class CWinApp {
 public:
  CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;
  virtual ~CWinApp();

  // Overridables. There is no message loop: the program lives for as long
  // as InitInstance runs, whatever it returns.
  virtual BOOL InitInstance() { return TRUE; }

  // Attributes
  CWnd* m_pMainWnd = nullptr;  // the owner of dialogs created without a parent
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
