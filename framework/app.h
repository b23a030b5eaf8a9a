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

// The call that finds a system function that may be missing; tests replace
// it to see what start-up asks for and to play a system without it.
using GetProcAddressFunction = FARPROC(WINAPI*)(HMODULE module, LPCSTR name);

// Installs `fn` (null: the platform's GetProcAddress); returns the previous one.
GetProcAddressFunction SetGetProcAddressFunction(GetProcAddressFunction fn);

// The program from its entry point: settings of the process, then the
// application object's InitInstance. 0, or 1 when there is no application.
int AfxWinMain();
