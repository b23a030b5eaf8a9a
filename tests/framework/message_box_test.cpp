#include "framework/wnd.h"
#include "tests/framework/box_recorder.h"
#include "tests/framework/modal_script.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

HWND MakeWindow() {
  return ::CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                           nullptr, nullptr);
}

}  // namespace

TEST(AppName, IsTheExecutablesNameWithoutExtension) {
  EXPECT_EQ(AfxGetAppName(), L"framework_tests");
}

TEST(MessageBoxSeam, RecordsTextErrorIconCaptionAndOwner) {
  HWND owner = MakeWindow();
  g_boxes.clear();
  MessageBoxFunction previous = SetMessageBoxFunction(RecordBox);
  EXPECT_EQ(ShowMessageBox(owner, L"File can't be created"), IDOK);
  SetMessageBoxFunction(previous);

  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0].owner, owner);
  EXPECT_EQ(g_boxes[0].text, L"File can't be created");
  EXPECT_EQ(g_boxes[0].caption, L"framework_tests");
  EXPECT_EQ(g_boxes[0].type, UINT(MB_ICONERROR | MB_OK));
  ::DestroyWindow(owner);
}

TEST(MessageBoxSeam, NullRestoresThePlatformsBox) {
  SetMessageBoxFunction(RecordBox);
  EXPECT_EQ(SetMessageBoxFunction(nullptr), RecordBox);
  EXPECT_EQ(SetMessageBoxFunction(nullptr), &::MessageBoxW);
}

// The real box, read and closed by a timer inside its own modal loop.
TEST(MessageBoxSeam, PlatformBoxShowsTextCaptionIconAndIsOwned) {
  HWND owner = MakeWindow();
  ::ShowWindow(owner, SW_SHOW);
  std::wstring text;
  HWND boxOwner = nullptr, icon = nullptr;
  bool ownerDisabled = false;
  std::function<void()> read = [&] {
    HWND box = modal::FindDialog(L"framework_tests");
    if (!box) {  // not up yet
      modal::Soon(read, 20);
      return;
    }
    text = modal::Text(::GetDlgItem(box, 0xFFFF));
    icon = ::GetDlgItem(box, 0x440);
    boxOwner = ::GetWindow(box, GW_OWNER);
    ownerDisabled = !::IsWindowEnabled(owner);
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
  };
  int answer = modal::WithScript([&] { return ShowMessageBox(owner, L"Something failed"); }, read);
  EXPECT_EQ(answer, IDOK);
  EXPECT_EQ(text, L"Something failed");
  EXPECT_NE(icon, nullptr);
  EXPECT_EQ(boxOwner, owner);
  EXPECT_TRUE(ownerDisabled);  // modal: the owner takes no input meanwhile
  ::DestroyWindow(owner);
}

TEST(SystemErrorText, GivesTheSystemsSentenceWithoutLineBreak) {
  std::wstring text = SystemErrorText(ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(text.find(L'\n'), std::wstring::npos);
  EXPECT_NE(text.back(), L' ');
}
