#include "framework/dialog.h"

#include "framework/app.h"

namespace {

InitCommonControlsFunction g_initCommonControls = ::InitCommonControlsEx;

}  // namespace

InitCommonControlsFunction SetInitCommonControlsFunction(InitCommonControlsFunction fn) {
  InitCommonControlsFunction previous = g_initCommonControls;
  g_initCommonControls = fn ? fn : ::InitCommonControlsEx;
  return previous;
}

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
  if (!control.m_hWnd) pDX->m_pDlgWnd->BindControl(control, id);
}

void CDialog::BindControl(CWnd& control, int id) {
  HWND item = ::GetDlgItem(m_hWnd, id);
  if (!item) return;  // no such control: the member stays windowless
  control.Attach(item);
  m_bound.push_back(&control);
}

INT_PTR CDialog::DoModal() {
  HWND owner = m_parent ? m_parent->m_hWnd : nullptr;
  CWnd* main = AfxGetMainWnd();
  if (!owner && main && main != this) owner = main->m_hWnd;

  // The progress bar is the only common control of the dialogs. Without a
  // manifest the system loads version 5 of the library, which knows only
  // the older flags and may refuse a call that names a newer one. A
  // template whose class is missing would fail to open without a word.
  // Registering again is cheap and harmless, so every dialog asks.
  const INITCOMMONCONTROLSEX classes{sizeof classes, ICC_PROGRESS_CLASS};
  if (!g_initCommonControls(&classes)) {
    ShowMessageBox(owner, kNoProgressClassText);
    return -1;
  }
  return ::DialogBoxParamW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(m_templateId), owner,
                           DialogProc, reinterpret_cast<LPARAM>(this));
}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
  CDataExchange dx(this, saveAndValidate);
  DoDataExchange(&dx);
  return TRUE;
}

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

void CDialog::OnOK() {
  if (UpdateData(TRUE)) EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

bool CDialog::OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT*) {
  if (msg != WM_COMMAND) return false;
  if (CommandMatches(IDOK, BN_CLICKED, wp, lp)) {
    OnOK();
    return true;
  }
  if (CommandMatches(IDCANCEL, BN_CLICKED, wp, lp)) {
    OnCancel();
    return true;
  }
  return false;
}

// A template placed at 0, 0 asks for the dialog to be centred: on the
// screen, or over its owner.
bool CDialog::TemplateAtOrigin() const {
  HINSTANCE module = AfxGetInstanceHandle();
  HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(m_templateId), MAKEINTRESOURCEW(5));
  const auto* words =
      found ? static_cast<const WORD*>(::LockResource(::LoadResource(module, found))) : nullptr;
  if (!words) return false;
  DWORD style;
  short x, y;
  if (words[0] == 1 && words[1] == 0xFFFF) {  // extended: version, signature, help id, ex style
    style = words[6] | static_cast<DWORD>(words[7]) << 16;
    x = static_cast<short>(words[9]);
    y = static_cast<short>(words[10]);
  } else {  // classic: style, ex style, item count
    style = words[0] | static_cast<DWORD>(words[1]) << 16;
    x = static_cast<short>(words[5]);
    y = static_cast<short>(words[6]);
  }
  return x == 0 && y == 0 && !(style & (WS_CHILD | DS_CENTER));
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_INITDIALOG) {
    auto* self = reinterpret_cast<CDialog*>(lp);
    ::SetWindowLongPtrW(hwnd, DWLP_USER, lp);
    self->m_hWnd = hwnd;
    RECT before;
    ::GetWindowRect(hwnd, &before);
    BOOL focusDefault = self->OnInitDialog();
    RECT after;
    ::GetWindowRect(hwnd, &after);
    // Unless OnInitDialog placed the window itself.
    if (before.left == after.left && before.top == after.top && self->TemplateAtOrigin())
      self->CenterWindow(::GetWindow(hwnd, GW_OWNER));
    return focusDefault;
  }

  auto* self = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
  if (!self) return FALSE;
  if (msg == WM_NCDESTROY) {
    for (CWnd* control : self->m_bound) control->Detach();
    self->m_bound.clear();
    self->m_hWnd = nullptr;
    ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
    return FALSE;
  }

  // A handler may run a nested modal loop (the About box) whose messages
  // come through here too: each message keeps its own Default() request.
  const bool outerDefault = self->m_default;
  self->m_default = false;
  LRESULT result = 0;
  const bool handled = self->OnMessage(msg, wp, lp, &result);
  const bool useDefault = self->m_default;
  self->m_default = outerDefault;
  if (!handled || useDefault) return FALSE;
  switch (msg) {
    // These answer through the procedure's own result.
    case WM_QUERYDRAGICON:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
      return static_cast<INT_PTR>(result);
    default:
      ::SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
      return TRUE;
  }
}
