// The application object as the product has it, on a machine without the
// card: start-up runs the real opening, which fails, and the dialog opens
// with the verdict for an unreadable board.
#include "app/board_flash_app.h"
#include "framework/wnd.h"
#include "testing/wine.h"
#include "tests/app/dialog_view.h"

CBoardFlashApp theApp;

TEST(Start, InitInstanceRunsTheDialogAsMainWindowAndReturnsFalse) {
  if (!RunningUnderWine()) GTEST_SKIP() << kNotUnderWine;
  // The prefix is a scratch one, shared with the end-to-end programs, which
  // register a simulated card in the capture category and remove it when
  // they end; one that crashed may have left its entry behind. No card
  // here means no device at all in that category.
  const LSTATUS cleared = ::RegDeleteTreeW(
      HKEY_CLASSES_ROOT, L"CLSID\\{65E8773D-8F56-11D0-A3B9-00A0C9223196}\\Instance");
  ASSERT_TRUE(cleared == ERROR_SUCCESS || cleared == ERROR_FILE_NOT_FOUND) << cleared;

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
  EXPECT_EQ(Texts(Boxes()),
            (std::vector<std::wstring>{L"FindFilterByName: Couldn't find enumerator!",
                                       L"Couldn't find AnalogCaptureFilter!"}));
  for (const Box& b : Boxes()) {
    EXPECT_EQ(b.caption, L"app_start_tests");
    EXPECT_FALSE(b.ownerVisible);
  }
  EXPECT_EQ(shown.status, L"Wrong  KORVEL_Vosk_Board Sub-Vender ID!");
  EXPECT_TRUE(shown.exitEnabled);
  EXPECT_FALSE(shown.reFlashEnabled);
}
