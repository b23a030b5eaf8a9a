#include "app/board_flash_app.h"

#include "app/board_flash_dlg.h"

BOOL CBoardFlashApp::InitInstance() {
  // Hosting OLE controls and 3-D control drawing need no switch here: the
  // dialogs host none, and the platform draws its controls itself.
  CBoardFlashDlg dlg;
  m_pMainWnd = &dlg;
  dlg.DoModal();
  m_pMainWnd = nullptr;
  // No message loop of our own: the program ends with the dialog.
  return FALSE;
}
