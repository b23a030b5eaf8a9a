// The real main dialog over a bus double, driven from inside its modal
// loop; message boxes are recorded instead of shown.
#pragma once

#include "framework/app.h"
#include "testing/doubles/fake_bus.h"
#include "tests/app/dialog_view.h"

#include <memory>

// The application object stands in for the product's: the dialog under
// test is its main window, which owns dialogs opened without a parent.
inline CWinApp g_testApp;

class DialogFixture {
 public:
  DialogFixture() {
    m_previous = SetMessageBoxFunction(RecordBox);
    Boxes().clear();
  }
  ~DialogFixture() { SetMessageBoxFunction(m_previous); }

  void SetIdentity(BYTE b0, BYTE b1, BYTE b2, BYTE b3) {
    uint8_t* m = bus.devices[BOARD_EEPROM_ADDRESS].memory.data();
    m[0] = b0;
    m[1] = b1;
    m[2] = b2;
    m[3] = b3;
  }

  // Runs the dialog; `script` runs inside its modal loop and must end it.
  INT_PTR RunDialog(std::function<void(HWND)> script) {
    g_testApp.m_pMainWnd = dlg.get();
    INT_PTR result =
        modal::WithScript([&] { return dlg->DoModal(); }, [&] { script(dlg->m_hWnd); });
    g_testApp.m_pMainWnd = nullptr;
    return result;
  }

  // The dialog opens its bus through `other` from now on, e.g. the real
  // opening over COM doubles; `other` must outlive the dialog's commands.
  void UseOpener(BusOpener& other) { dlg = std::make_unique<CBoardFlashDlg>(other, pacer); }

  // Fails the n-th transfer from now on (1: the next one).
  void FailTransferFromNow(size_t n, HRESULT hr = E_FAIL) {
    bus.FailTransfer(bus.transfers.size() + n, static_cast<int32_t>(hr));
  }

  Transcript transcript;
  FakeBus bus{&transcript};
  FakePacer pacer{&transcript};
  FakeOpener opener{&bus, &transcript};
  std::unique_ptr<CBoardFlashDlg> dlg = std::make_unique<CBoardFlashDlg>(opener, pacer);

 private:
  MessageBoxFunction m_previous;
};
