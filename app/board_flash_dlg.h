// The main dialog: the identity check at start, ReFlash, the save command,
// and the EEPROM operations as members that lend the dialog's progress bar
// and error boxes to the operations in eeprom/.
#pragma once

#include "eeprom/eeprom.h"
#include "framework/controls.h"
#include "framework/dialog.h"
#include "res/resource.h"

// Top-left corner of an icon drawn centred in a minimised window's client
// area; the division truncates toward zero.
POINT IconOrigin(int clientWidth, int clientHeight, int iconWidth, int iconHeight);

class ImageFile;

class CBoardFlashDlg : public CDialog, public ErrorSink, public ProgressSink {
 public:
  explicit CBoardFlashDlg(CWnd* parent = nullptr);
  // Another bus and another clock, for tests.
  CBoardFlashDlg(ControlOpener& opener, Pacer& pacer, CWnd* parent = nullptr);
  ~CBoardFlashDlg() override;

  // Dialog data. Only the members bound in DoDataExchange have windows.
  CEdit m_edUnused;  // never bound or used, like the three buttons below
  CButton m_btnUnused1;
  CButton m_btnUnused2;
  CButton m_btnUnused3;
  CComboBox m_cbSource;  // selection 1 makes the save command dump the DSP EEPROM
  CButton m_btnExit;
  CButton m_btnUnused4;
  CButton m_btnReFlash;
  CStatic m_stStatus;
  CButton m_btnSave;
  CProgressCtrl m_progress;
  WORD m_wSubVendorID = 0;
  WORD m_wSubSystemID = 0;
  HICON m_hIcon;
  UINT32 m_nEepromSize = 0;

  // EEPROM operations; each shows its own error box when it fails.
  bool ReadBoardID(BYTE* buffer);
  bool WriteBoardEEPROM(const BYTE* data, UINT32 count);
  bool ReadBoardEEPROM(BYTE* buffer, UINT32 size);
  bool ReadDspEEPROM(PageSink& file);

  // ErrorSink: a box owned by the dialog.
  void ShowError(const std::wstring& text) override;
  // ProgressSink: the progress bar's position.
  void SetPos(int pos) override;

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;

  void OnSysCommand(UINT id, LPARAM lp);
  void OnPaint();
  HCURSOR OnQueryDragIcon();
  void OnReFlash();
  void OnSaveEeprom();
  DECLARE_MESSAGE_TABLE(CBoardFlashDlg)

 private:
  EepromContext Context() { return {*m_opener, *this, *this, *m_pacer}; }
  void SaveBoardEeprom(ImageFile& file);
  void SaveDspEeprom(ImageFile& file);
  void FinishDump(ImageFile& file, bool ok, const std::wstring& error, const wchar_t* success,
                  const wchar_t* failure);

  AnalogCaptureOpener m_captureOpener;
  RealTimePacer m_realTimePacer;
  ControlOpener* m_opener;
  Pacer* m_pacer;
};

class CAboutDialog : public CDialog {
 public:
  CAboutDialog() : CDialog(IDD_ABOUT) {}
  ~CAboutDialog() override = default;

 protected:
  void DoDataExchange(CDataExchange* pDX) override { CDialog::DoDataExchange(pDX); }
};
