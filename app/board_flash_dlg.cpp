#include "app/board_flash_dlg.h"

#include "app/image_file.h"
#include "app/text.h"
#include "app/verdict.h"
#include "framework/file_dialog.h"

POINT IconOrigin(int clientWidth, int clientHeight, int iconWidth, int iconHeight) {
  return {(clientWidth - iconWidth + 1) / 2, (clientHeight - iconHeight + 1) / 2};
}

CBoardFlashDlg::CBoardFlashDlg(CWnd* parent)
    : CDialog(IDD_FLASHER, parent),
      m_hIcon(::LoadIconW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(IDI_APP))),
      m_opener(&m_captureOpener),
      m_pacer(&m_realTimePacer) {}

CBoardFlashDlg::CBoardFlashDlg(BusOpener& opener, Pacer& pacer, CWnd* parent)
    : CBoardFlashDlg(parent) {
  m_opener = &opener;
  m_pacer = &pacer;
}

CBoardFlashDlg::~CBoardFlashDlg() = default;

// clang-format off
BEGIN_MESSAGE_TABLE(CBoardFlashDlg)
  ON_WM_SYSCOMMAND()
  ON_WM_PAINT()
  ON_WM_QUERYDRAGICON()
  ON_BN_CLICKED(IDC_REFLASH, OnReFlash)
  ON_COMMAND(IDC_SAVE_EEPROM, OnSaveEeprom)
END_MESSAGE_TABLE(CBoardFlashDlg, CDialog)
// clang-format on

void CBoardFlashDlg::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Control(pDX, IDOK, m_btnExit);
  DDX_Control(pDX, IDC_REFLASH, m_btnReFlash);
  DDX_Control(pDX, IDC_STATUS, m_stStatus);
  DDX_Control(pDX, IDC_PROGRESS, m_progress);
}

BOOL CBoardFlashDlg::OnInitDialog() {
  CDialog::OnInitDialog();

  if (HMENU menu = GetSystemMenu(FALSE)) {
    wchar_t text[256];
    if (::LoadStringW(AfxGetInstanceHandle(), IDS_ABOUT_MENU, text, 256) > 0) {
      ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
      ::AppendMenuW(menu, MF_STRING, ID_SYS_ABOUT, text);
    }
  }
  SetIcon(m_hIcon, TRUE);
  SetIcon(m_hIcon, FALSE);

  m_nEepromSize = 256;
  m_wSubVendorID = 0;
  m_wSubSystemID = 0;
  EepromContext ctx = Context();
  const IdentityCheck check = CheckBoardIdentity(ctx);  // a failed read leaves both IDs 0
  m_wSubVendorID = check.ids.m_wSubVendorID;
  m_wSubSystemID = check.ids.m_wSubSystemID;

  const VerdictEffect& effect = EffectOf(check.verdict);
  if (effect.errorBox) ShowBox(effect.errorBox);
  if (effect.status) m_stStatus.SetWindowText(effect.status);
  if (effect.progressPos >= 0) m_progress.SetPos(effect.progressPos);
  (effect.disable == VerdictButton::Exit ? m_btnExit : m_btnReFlash).EnableWindow(FALSE);
  return TRUE;
}

void CBoardFlashDlg::OnOK() { CDialog::OnOK(); }

void CBoardFlashDlg::OnCancel() { CDialog::OnCancel(); }

void CBoardFlashDlg::OnSysCommand(UINT id, LPARAM) {
  if ((id & 0xFFF0) == ID_SYS_ABOUT) {
    CAboutDialog about;
    about.DoModal();
  } else {
    Default();
  }
}

void CBoardFlashDlg::OnPaint() {
  if (!IsIconic()) {
    Default();
    return;
  }
  PAINTSTRUCT ps;
  HDC dc = ::BeginPaint(m_hWnd, &ps);
  SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client;
  GetClientRect(&client);
  POINT at = IconOrigin(client.right - client.left, client.bottom - client.top,
                        ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON));
  ::DrawIcon(dc, at.x, at.y, m_hIcon);
  ::EndPaint(m_hWnd, &ps);
}

HCURSOR CBoardFlashDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }

// ---- What the core borrows ----------------------------------------------------

void CBoardFlashDlg::ShowError(const std::string& text) { ShowBox(WideFromUtf8(text).c_str()); }

void CBoardFlashDlg::ShowBox(const wchar_t* text) { ShowMessageBox(m_hWnd, text); }

void CBoardFlashDlg::SetPos(uint32_t pos) { m_progress.SetPos(static_cast<int>(pos)); }

// ---- Commands ----------------------------------------------------------------

void CBoardFlashDlg::OnReFlash() {
  m_progress.SetRange32(0, static_cast<int>(m_nEepromSize));
  m_stStatus.SetWindowText(L"Programming the Board-EEPROM...");
  EepromContext ctx = Context();
  if (ProgramBoard(ctx, BoardImage, BOARD_IMAGE_SIZE, m_nEepromSize).ok()) {
    m_stStatus.SetWindowText(
        L"Board-EEPROM content successfully written to EEPROM. Please reboot the system to apply "
        L"the new settings!");
    m_btnReFlash.EnableWindow(FALSE);
    m_btnExit.EnableWindow(TRUE);
  } else {
    m_progress.SetPos(0);
    m_stStatus.SetWindowText(L"Writing to Board-EEPROM failed!!!");
  }
}

void CBoardFlashDlg::OnSaveEeprom() {
  CFileDialog saveAs(FALSE, L"bin", nullptr, 0, L"EEPROM image (*.bin)|*.bin||", this);
  if (saveAs.DoModal() != IDOK) return;

  ImageFile file;
  if (!file.Create(saveAs.GetPathName())) {
    ShowBox(L"File can't be created");
    return;
  }

  m_progress.SetPos(0);
  // A dump must not unlock a button that was locked before it.
  const BOOL saveWasEnabled = m_btnSave.IsWindowEnabled();
  const BOOL reFlashWasEnabled = m_btnReFlash.IsWindowEnabled();
  const BOOL exitWasEnabled = m_btnExit.IsWindowEnabled();
  m_btnSave.EnableWindow(FALSE);
  m_btnReFlash.EnableWindow(FALSE);
  m_btnExit.EnableWindow(FALSE);

  if (m_cbSource.GetCurSel() == 1)
    SaveDspEeprom(file);
  else
    SaveBoardEeprom(file);

  m_btnSave.EnableWindow(saveWasEnabled);
  m_btnReFlash.EnableWindow(reFlashWasEnabled);
  m_btnExit.EnableWindow(exitWasEnabled);
}

void CBoardFlashDlg::SaveDspEeprom(ImageFile& file) {
  m_progress.SetRange32(0, static_cast<int>(DSP_EEPROM_SIZE));
  m_stStatus.SetWindowText(L"Reading from DSP-EEPROM...");
  EepromContext ctx = Context();
  FinishDump(SaveDspEEPROM(ctx, file).ok(), L"DSP EEPROM content successfully stored to file!",
             L"Reading out DSP EEPROM content failed!!!");
}

void CBoardFlashDlg::SaveBoardEeprom(ImageFile& file) {
  m_progress.SetRange32(0, static_cast<int>(m_nEepromSize));
  m_stStatus.SetWindowText(L"Reading from Board-EEPROM...");
  EepromContext ctx = Context();
  BoardIdentity ids;  // refreshed by the save's identity read, whatever it gave
  const bool ok = SaveBoardEEPROM(ctx, file, m_nEepromSize, &ids).ok();
  m_wSubVendorID = ids.m_wSubVendorID;
  m_wSubSystemID = ids.m_wSubSystemID;
  FinishDump(ok, L"Board EEPROM content successfully stored to file!",
             L"Reading out Board EEPROM content failed!!!");
}

void CBoardFlashDlg::FinishDump(bool ok, const wchar_t* success, const wchar_t* failure) {
  if (ok) {
    m_stStatus.SetWindowText(success);
    return;
  }
  m_progress.SetPos(0);
  m_stStatus.SetWindowText(failure);
}
