#include "tests/app/dialog_fixture.h"

#include <cstring>

// ---- The identity check at start -------------------------------------------

struct VerdictCase {
  const char* name;
  BYTE id[4];
  int failTransfer;  // 0: none
  bool failOpen;
  std::vector<std::wstring> boxes;
  std::wstring status;
  int pos;
  bool exitEnabled, reFlashEnabled;
};

const std::wstring kOpenBoxes[] = {L"FindFilterByName: BindToObject failed!",
                                   L"Couldn't find AnalogCaptureFilter!"};

const VerdictCase kVerdicts[] = {
    {"NeedsReflash",
     {0x2D, 0x6B, 0x21, 0x3A},
     0,
     false,
     {L"Wrong Z89N Board_ID : 0x3A21, Need to Re-Flash EEPROM..."},
     kInitialStatus,
     0,
     false,
     true},
    {"AlreadyCorrect",
     {0x2D, 0x6B, 0x2C, 0x3A},
     0,
     false,
     {},
     L"Correct Z89N Board_ID : 0x3A2C you have No need to flash eeprom.",
     100,
     true,
     false},
    {"OtherBoard",
     {0x2D, 0x6B, 0x00, 0x00},
     0,
     false,
     {L"Wrong Z89N Board_ID : Please Change the corret TVTuner Board"},
     L"Not Korvel Z895N TVTuner Board, Please Change the Corret Board.",
     0,
     true,
     false},
    {"WrongSubVendor", {0x6B, 0x2D, 0x2C, 0x3A}, 0, false, {}, kWrongVendor, 0, true, false},
    {"WrongSubVendorBeforeReflash",
     {0x2C, 0x6B, 0x21, 0x3A},
     0,
     false,
     {},
     kWrongVendor,
     0,
     true,
     false},
    {"ReadFails",
     {0x2D, 0x6B, 0x21, 0x3A},
     1,
     false,
     {L"ReadEEPROM: I2C-read to Board EEPROM failed"},
     kWrongVendor,
     0,
     true,
     false},
    {"OpenFails",
     {0x2D, 0x6B, 0x21, 0x3A},
     0,
     true,
     {kOpenBoxes[0], kOpenBoxes[1]},
     kWrongVendor,
     0,
     true,
     false},
};

class Verdict : public ::testing::TestWithParam<VerdictCase>, public DialogFixture {};

TEST_P(Verdict, BoxesBeforeShowingThenStatusBarAndButtonsAndEscCloses) {
  const VerdictCase& c = GetParam();
  SetIdentity(c.id[0], c.id[1], c.id[2], c.id[3]);
  if (c.failTransfer) bus.FailTransfer(c.failTransfer);
  opener.fail = c.failOpen;
  opener.failBoxes = {Narrow(kOpenBoxes[0]), Narrow(kOpenBoxes[1])};

  View shown;
  bool visible = false;
  INT_PTR result = RunDialog([&](HWND h) {
    shown = Look(h);
    visible = ::IsWindowVisible(h);
    PressEscape(h);
  });

  EXPECT_EQ(result, IDCANCEL);  // also where Exit is disabled
  EXPECT_TRUE(visible);
  EXPECT_EQ(Texts(Boxes()), c.boxes);
  for (const Box& b : Boxes()) {
    EXPECT_FALSE(b.ownerVisible) << "a box came after the dialog was shown";
    EXPECT_NE(b.owner, nullptr);
    EXPECT_EQ(b.caption, L"app_tests");
    EXPECT_EQ(b.type, UINT(MB_ICONERROR | MB_OK));
    EXPECT_EQ(b.view.status, kInitialStatus) << "the status changed before the box";
    EXPECT_EQ(b.view.pos, 0) << "the bar moved before the box";
    EXPECT_TRUE(b.view.exitEnabled && b.view.reFlashEnabled) << "a button went before the box";
  }
  EXPECT_EQ(shown.status, c.status);
  EXPECT_EQ(shown.low, 0);
  EXPECT_EQ(shown.high, 100);
  EXPECT_EQ(shown.pos, c.pos);
  EXPECT_EQ(shown.exitEnabled, c.exitEnabled);
  EXPECT_EQ(shown.reFlashEnabled, c.reFlashEnabled);
  EXPECT_EQ(bus.transfers.size(), c.failOpen ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(AtStart, Verdict, ::testing::ValuesIn(kVerdicts),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Icons, system menu, About ---------------------------------------------

class MainDialog : public ::testing::Test, public DialogFixture {};

TEST_F(MainDialog, InstallsItsIconForDraggingAndBothSizes) {
  LRESULT big = 0, small = 0, drag = 0;
  RunDialog([&](HWND h) {
    big = ::SendMessageW(h, WM_GETICON, ICON_BIG, 0);
    small = ::SendMessageW(h, WM_GETICON, ICON_SMALL, 0);
    drag = ::SendMessageW(h, WM_QUERYDRAGICON, 0, 0);
    PressEscape(h);
  });
  EXPECT_NE(big, 0);
  EXPECT_EQ(big, reinterpret_cast<LRESULT>(dlg->m_hIcon));
  EXPECT_EQ(small, big);
  EXPECT_EQ(drag, big);
}

TEST_F(MainDialog, SystemMenuEndsWithSeparatorAndAboutEntry) {
  std::wstring lastText;
  UINT lastId = 0, beforeType = 0, lastType = 0;
  RunDialog([&](HWND h) {
    HMENU menu = ::GetSystemMenu(h, FALSE);
    int n = ::GetMenuItemCount(menu);
    wchar_t text[128] = {};
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
    info.dwTypeData = text;
    info.cch = 128;
    ::GetMenuItemInfoW(menu, n - 1, TRUE, &info);
    lastText = text;
    lastId = info.wID;
    lastType = info.fType;
    info.dwTypeData = nullptr;
    info.cch = 0;
    ::GetMenuItemInfoW(menu, n - 2, TRUE, &info);
    beforeType = info.fType;
    PressEscape(h);
  });
  EXPECT_TRUE(beforeType & MFT_SEPARATOR);
  EXPECT_FALSE(lastType & MFT_SEPARATOR);
  EXPECT_EQ(lastText, L"&About REVADAD86IRaziz...");
  EXPECT_EQ(lastId, UINT(ID_SYS_ABOUT));
}

// The About box opens for the command id and every id that masks to it.
TEST_F(MainDialog, SystemCommandsMaskedToTheAboutIdOpenTheAboutBox) {
  struct Case {
    UINT id;
    bool opensAbout;
  } cases[] = {{0x10, true}, {0x11, true}, {0x1F, true}, {0x20, false}, {0x00, false}};
  RunDialog([&](HWND h) {
    for (const Case& c : cases) {
      bool opened = false, mainDisabled = false;
      HWND owner = nullptr;
      // Runs only inside the About box's own loop, which shows the box
      // once it has nothing else to do.
      std::function<void()> look = [&] {
        HWND about = modal::FindDialog(L"About Bravik");
        if (!about) {
          modal::Soon(look, 10);
          return;
        }
        opened = true;
        owner = ::GetWindow(about, GW_OWNER);
        mainDisabled = !::IsWindowEnabled(h);
        ::PostMessageW(about, WM_COMMAND, IDOK, 0);
      };
      modal::Soon(look);
      ::SendMessageW(h, WM_SYSCOMMAND, c.id, 0);
      modal::Clear();
      EXPECT_EQ(opened, c.opensAbout) << std::hex << c.id;
      if (c.opensAbout) {
        EXPECT_EQ(owner, h);
        EXPECT_TRUE(mainDisabled);
      }
      EXPECT_TRUE(::IsWindowEnabled(h)) << "main dialog usable again";
    }
    PressEscape(h);
  });
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(MainDialog, OtherSystemCommandsKeepTheirDefault) {
  bool iconic = false;
  INT_PTR result = RunDialog([&](HWND h) {
    ::SendMessageW(h, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    iconic = ::IsIconic(h);
    ::RedrawWindow(h, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);  // paints minimised
    ::SendMessageW(h, WM_SYSCOMMAND, SC_RESTORE, 0);
    ::PostMessageW(h, WM_SYSCOMMAND, SC_CLOSE, 0);
  });
  EXPECT_TRUE(iconic);
  EXPECT_EQ(result, IDCANCEL);  // the close box
}

// The platform's own box, owned by the dialog before it is shown: the
// hidden dialog takes no input meanwhile, and comes up enabled and active
// once the box is answered.
TEST_F(MainDialog, RealBoxBeforeShowingLeavesTheDialogEnabledAndActive) {
  SetIdentity(0x2D, 0x6B, 0x21, 0x3A);
  SetMessageBoxFunction(nullptr);  // the fixture puts its recorder back
  HWND dialog = nullptr, boxOwner = nullptr, active = nullptr;
  bool hiddenMeanwhile = false, disabledMeanwhile = false, enabledAfter = false;
  std::function<void()> answer, look;
  INT_PTR result = RunDialog([&](HWND h) {
    dialog = h;
    answer = [&] {
      HWND box = modal::FindDialog(L"app_tests");
      if (!box) {
        modal::Soon(answer, 10);
        return;
      }
      boxOwner = ::GetWindow(box, GW_OWNER);
      hiddenMeanwhile = !::IsWindowVisible(dialog);
      disabledMeanwhile = !::IsWindowEnabled(dialog);
      ::PostMessageW(box, WM_COMMAND, IDOK, 0);
      modal::Soon(look, 10);
    };
    look = [&] {
      if (!::IsWindowVisible(dialog)) {
        modal::Soon(look, 10);
        return;
      }
      active = ::GetActiveWindow();
      enabledAfter = ::IsWindowEnabled(dialog);
      PressEscape(dialog);
    };
    answer();
  });
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_EQ(boxOwner, dialog);
  EXPECT_TRUE(hiddenMeanwhile);
  EXPECT_TRUE(disabledMeanwhile);
  EXPECT_TRUE(enabledAfter);
  EXPECT_EQ(active, dialog);
}

TEST(IconOrigin, CentresWithTruncatingDivision) {
  struct Case {
    int cw, ch, iw, ih, x, y;
  } cases[] = {
      {36, 36, 32, 32, 2, 2}, {30, 36, 32, 32, 0, 2},  // (30 - 32 + 1) / 2 is 0, not -1
      {32, 32, 32, 32, 0, 0}, {33, 35, 32, 32, 1, 2}, {20, 16, 32, 32, -5, -7},
  };
  for (const Case& c : cases) {
    POINT p = IconOrigin(c.cw, c.ch, c.iw, c.ih);
    EXPECT_EQ(p.x, c.x) << c.cw << "x" << c.ch;
    EXPECT_EQ(p.y, c.y) << c.cw << "x" << c.ch;
  }
}

// ---- ReFlash -----------------------------------------------------------------

class ReFlash : public ::testing::Test, public DialogFixture {
 protected:
  ReFlash() { SetIdentity(0x2D, 0x6B, 0x21, 0x3A); }
  std::vector<BYTE> Board() { return bus.devices[BOARD_EEPROM_ADDRESS].memory; }
};

TEST_F(ReFlash, SuccessAsksForRebootAndLeavesOnlyExit) {
  View after;
  RunDialog([&](HWND h) {
    ClickReFlash(h);
    after = Look(h);
    PressEscape(h);
  });
  EXPECT_EQ(after.status, kReFlashed);
  EXPECT_EQ(after.low, 0);
  EXPECT_EQ(after.high, 256);
  EXPECT_EQ(after.pos, 256);
  EXPECT_FALSE(after.reFlashEnabled);
  EXPECT_TRUE(after.exitEnabled);
  EXPECT_EQ(Board(), std::vector<BYTE>(BoardImage, BoardImage + 256));
  EXPECT_EQ(Boxes().size(), 1u);  // the verdict's, nothing from the run
  EXPECT_EQ(ClassifyBoard(0x6B2D, Board()[2] | Board()[3] << 8), BoardVerdict::AlreadyCorrect);
}

// The command sets the range but leaves the position to the run: a bar
// left full by an earlier job stays so until the first byte is written.
TEST_F(ReFlash, StartKeepsThePositionAnEarlierJobLeft) {
  RunDialog([&](HWND h) {
    ::SendDlgItemMessageW(h, IDC_PROGRESS, PBM_SETPOS, 100, 0);
    FailTransferFromNow(1);
    ClickReFlash(h);
    PressEscape(h);
  });
  ASSERT_EQ(Boxes().size(), 2u);
  EXPECT_EQ(Boxes()[1].view.high, 256);
  EXPECT_EQ(Boxes()[1].view.pos, 100);
}

TEST_F(ReFlash, FailureResetsTheBarKeepsTheButtonsAndASecondRunStartsOver) {
  View after, again;
  RunDialog([&](HWND h) {
    FailTransferFromNow(10);  // the tenth byte
    ClickReFlash(h);
    after = Look(h);
    bus.fault = nullptr;
    ClickReFlash(h);
    again = Look(h);
    PressEscape(h);
  });
  ASSERT_EQ(Boxes().size(), 2u);
  const Box& box = Boxes()[1];
  EXPECT_TRUE(box.ownerVisible);
  EXPECT_EQ(box.view.status, L"Programming the Board-EEPROM...");
  EXPECT_EQ(box.view.pos, 9) << "the box comes before the bar goes back";
  EXPECT_EQ(box.view.high, 256);
  EXPECT_EQ(after.status, L"Writing to Board-EEPROM failed!!!");
  EXPECT_EQ(after.pos, 0);
  EXPECT_TRUE(after.reFlashEnabled);
  EXPECT_FALSE(after.exitEnabled);  // as the verdict left it

  EXPECT_EQ(again.status, kReFlashed);
  EXPECT_EQ(again.pos, 256);
  EXPECT_EQ(Board(), std::vector<BYTE>(BoardImage, BoardImage + 256));
}
