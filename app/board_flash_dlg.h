// The main dialog: the identity check at start, ReFlash and the save
// command. The commands run in the core; the dialog lends them its error
// boxes and progress bar, and maps their outcomes to its status line, bar
// and buttons.
#pragma once

#include "device/ks_bus.h"
#include "device/realtime_pacer.h"
#include "eeprom/commands.h"
#include "framework/controls.h"
#include "framework/dialog.h"
#include "res/resource.h"

#include <string>

// Top-left corner of an icon drawn centred in a minimised window's client
// area; the division truncates toward zero.
POINT IconOrigin(int clientWidth, int clientHeight, int iconWidth, int iconHeight);

class ImageFile;

class CBoardFlashDlg : public CDialog, public ErrorSink, public ProgressSink {
 public:
  explicit CBoardFlashDlg(CWnd* parent = nullptr);
  // Another bus and another clock, for tests.
  CBoardFlashDlg(BusOpener& opener, Pacer& pacer, CWnd* parent = nullptr);
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

  // ErrorSink: a box owned by the dialog.
  void ShowError(const std::string& text) override;
  // ProgressSink: the progress bar's position.
  void SetPos(uint32_t pos) override;

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
  void ShowBox(const wchar_t* text);
  void SaveBoardEeprom(ImageFile& file);
  void SaveDspEeprom(ImageFile& file);
  // The status and bar after a save; its failure's boxes came before.
  void FinishDump(bool ok, const wchar_t* success, const wchar_t* failure);

  AnalogCaptureOpener m_captureOpener;
  RealTimePacer m_realTimePacer;
  BusOpener* m_opener;
  Pacer* m_pacer;
};

class CAboutDialog : public CDialog {
 public:
  CAboutDialog() : CDialog(IDD_ABOUT) {}
  ~CAboutDialog() override = default;

 protected:
  void DoDataExchange(CDataExchange* pDX) override { CDialog::DoDataExchange(pDX); }
};
