#include "framework/controls.h"

#include <gtest/gtest.h>

// Members that no control backs: acting does nothing, asking answers 0.
TEST(WindowlessWrappers, DoNothingAndAnswerZero) {
  CButton button;
  CComboBox combo;
  CProgressCtrl progress;
  CStatic label;
  CEdit edit;

  EXPECT_FALSE(button.EnableWindow(FALSE));
  EXPECT_FALSE(button.IsWindowEnabled());
  EXPECT_EQ(combo.GetCurSel(), 0);
  progress.SetRange32(0, 256);
  EXPECT_EQ(progress.SetPos(10), 0);
  EXPECT_EQ(progress.GetPos(), 0);
  int lo = -1, hi = -1;
  progress.GetRange(lo, hi);
  EXPECT_EQ(lo, 0);
  EXPECT_EQ(hi, 0);
  label.SetWindowText(L"x");
  EXPECT_EQ(label.GetWindowText(), L"");
  EXPECT_EQ(edit.SendMessage(WM_GETTEXTLENGTH), 0);
  RECT r{1, 2, 3, 4};
  label.GetClientRect(&r);
  EXPECT_EQ(r.right, 0);
}

class BoundWrappers : public ::testing::Test {
 protected:
  void SetUp() override {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&icc);
    progress.Attach(::CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_POPUP, 0, 0, 100, 10, nullptr,
                                      nullptr, nullptr, nullptr));
    combo.Attach(::CreateWindowExW(0, L"COMBOBOX", L"", WS_POPUP | CBS_DROPDOWNLIST, 0, 0, 100, 100,
                                   nullptr, nullptr, nullptr, nullptr));
  }
  void TearDown() override {
    ::DestroyWindow(progress.Detach());
    ::DestroyWindow(combo.Detach());
  }
  CProgressCtrl progress;
  CComboBox combo;
};

TEST_F(BoundWrappers, ProgressRangeIsThirtyTwoBits) {
  progress.SetRange32(0, 32768);
  int lo, hi;
  progress.GetRange(lo, hi);
  EXPECT_EQ(lo, 0);
  EXPECT_EQ(hi, 32768);  // beyond what a 16-bit PBM_SETRANGE could hold
  EXPECT_EQ(progress.SetPos(20000), 0);
  EXPECT_EQ(progress.GetPos(), 20000);
}

TEST_F(BoundWrappers, ComboSelection) {
  EXPECT_EQ(combo.GetCurSel(), CB_ERR);
  combo.SendMessage(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"Board"));
  combo.SendMessage(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"DSP"));
  combo.SendMessage(CB_SETCURSEL, 1);
  EXPECT_EQ(combo.GetCurSel(), 1);
}

TEST_F(BoundWrappers, EnableAndText) {
  progress.EnableWindow(FALSE);
  EXPECT_FALSE(progress.IsWindowEnabled());
  progress.EnableWindow(TRUE);
  EXPECT_TRUE(progress.IsWindowEnabled());
  CStatic label;
  label.Attach(::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 nullptr, nullptr));
  label.SetWindowText(L"Reading from Board-EEPROM...");
  EXPECT_EQ(label.GetWindowText(), L"Reading from Board-EEPROM...");
  ::DestroyWindow(label.Detach());
}
