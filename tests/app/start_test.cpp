// The application object as the product has it, on a machine without the
// card: start-up runs the real opening, which fails, and the dialog opens
// with the verdict for an unreadable board.
#include "app/board_flash_app.h"
#include "framework/wnd.h"
#include "tests/app/dialog_view.h"

CBoardFlashApp theApp;

TEST(Start, InitInstanceRunsTheDialogAsMainWindowAndReturnsFalse) {
  MessageBoxFunction previous = SetMessageBoxFunction(RecordBox);
  Boxes().clear();
  HWND main = nullptr;
  View shown;
  BOOL result = modal::WithScript([&] { return theApp.InitInstance(); },
                                  [&] {
                                    main = AfxGetMainWnd() ? AfxGetMainWnd()->m_hWnd : nullptr;
                                    shown = Look(main);
                                    PressEscape(main);
                                  });
  SetMessageBoxFunction(previous);

  EXPECT_FALSE(result);
  EXPECT_NE(main, nullptr);
  EXPECT_EQ(AfxGetMainWnd(), nullptr);  // the dialog is gone with InitInstance
  ASSERT_FALSE(Boxes().empty());
  EXPECT_EQ(Boxes().back().text, L"Couldn't find AnalogCaptureFilter!");
  for (const Box& b : Boxes()) {
    EXPECT_EQ(b.caption, L"app_start_tests");
    EXPECT_FALSE(b.ownerVisible);
  }
  EXPECT_EQ(shown.status, L"Wrong  KORVEL_Vosk_Board Sub-Vender ID!");
  EXPECT_TRUE(shown.exitEnabled);
  EXPECT_FALSE(shown.reFlashEnabled);
}
