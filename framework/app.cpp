#include "framework/app.h"

namespace {

CWinApp* g_app = nullptr;
GetProcAddressFunction g_getProcAddress = ::GetProcAddress;

// A command such as ReFlash holds the thread for seconds without reading
// messages, as designed. The system would take the window for hung after
// 5 s and put a ghost in its place whose close button ends the process
// mid-write. Without ghosting, input waits for the command, which has the
// dialog's controls disabled. The call is looked up, as a system may lack it.
void DisableWindowsGhosting() {
  using Function = void(WINAPI*)();
  HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
  if (!user32) return;
  auto disable =
      reinterpret_cast<Function>(g_getProcAddress(user32, "DisableProcessWindowsGhosting"));
  if (disable) disable();
}

}  // namespace

GetProcAddressFunction SetGetProcAddressFunction(GetProcAddressFunction fn) {
  GetProcAddressFunction previous = g_getProcAddress;
  g_getProcAddress = fn ? fn : ::GetProcAddress;
  return previous;
}

int AfxWinMain() {
  DisableWindowsGhosting();
  CWinApp* app = AfxGetApp();
  if (!app) return 1;
  app->InitInstance();
  return 0;
}

CWinApp::CWinApp() { g_app = this; }

CWinApp::~CWinApp() {
  if (g_app == this) g_app = nullptr;
}

CWinApp* AfxGetApp() { return g_app; }

CWnd* AfxGetMainWnd() { return g_app ? g_app->m_pMainWnd : nullptr; }
