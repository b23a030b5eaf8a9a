#include "app/board_flash_app.h"

#include "app/board_flash_dlg.h"

#include <objbase.h>

BOOL CBoardFlashApp::InitInstance() {
  // COM for the capture filter's lookup, once for the program; it stays
  // started until the dialog is gone.
  const HRESULT com = ::CoInitialize(nullptr);
  // Hosting OLE controls and 3-D control drawing need no switch here: the
  // dialogs host none, and the platform draws its controls itself.
  {
    CBoardFlashDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;
  }
  if (SUCCEEDED(com)) ::CoUninitialize();
  // No message loop of our own: the program ends with the dialog.
  return FALSE;
}
