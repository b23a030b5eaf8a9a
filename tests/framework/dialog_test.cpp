#include "framework/app.h"
#include "framework/controls.h"
#include "framework/dialog.h"
#include "res/resource.h"
#include "tests/framework/box_recorder.h"
#include "tests/framework/modal_script.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

// The main template with a message table of every kind of entry.
class TableDialog : public CDialog {
 public:
  TableDialog() : CDialog(IDD_FLASHER) {}
  CButton m_btnExit;
  CButton m_btnReFlash;
  CStatic m_stStatus;
  CProgressCtrl m_progress;
  CButton m_btnMissing;  // no such control in the template
  std::vector<std::string> calls;
  bool defaultSysCommand = true;
  UINT swallowId = 0;  // handled without Default(), after sending nestedId
  UINT nestedId = 0;

 protected:
  void DoDataExchange(CDataExchange* pDX) override {
    calls.push_back(pDX->m_bSaveAndValidate ? "save" : "load");
    DDX_Control(pDX, IDOK, m_btnExit);
    DDX_Control(pDX, IDC_REFLASH, m_btnReFlash);
    DDX_Control(pDX, IDC_STATUS, m_stStatus);
    DDX_Control(pDX, IDC_PROGRESS, m_progress);
    DDX_Control(pDX, 4711, m_btnMissing);
  }
  BOOL OnInitDialog() override {
    calls.push_back("init");
    return CDialog::OnInitDialog();
  }
  void OnClick() { calls.push_back("click"); }
  void OnSave() { calls.push_back("save command"); }
  void OnSysCommand(UINT id, LPARAM) {
    calls.push_back("syscommand " + std::to_string(id));
    if (id == swallowId) {
      if (nestedId) ::SendMessageW(m_hWnd, WM_SYSCOMMAND, nestedId, 0);
      return;
    }
    if (defaultSysCommand) Default();
  }
  HCURSOR OnQueryDragIcon() { return reinterpret_cast<HCURSOR>(0x1234); }
  DECLARE_MESSAGE_TABLE(TableDialog)
};

// clang-format off
BEGIN_MESSAGE_TABLE(TableDialog)
  ON_WM_SYSCOMMAND()
  ON_WM_QUERYDRAGICON()
  ON_BN_CLICKED(IDC_REFLASH, OnClick)
  ON_COMMAND(IDC_SAVE_EEPROM, OnSave)
END_MESSAGE_TABLE(TableDialog, CDialog)
// clang-format on

class AboutBox : public CDialog {
 public:
  AboutBox() : CDialog(IDD_ABOUT) {}
};

class TestApp : public CWinApp {
 public:
  std::function<void()> onInitInstance;  // for the start-up tests

 protected:
  BOOL InitInstance() override {
    if (onInitInstance) onInitInstance();
    return TRUE;
  }
} theTestApp;

RECT WindowRect(HWND hwnd) {
  RECT r;
  ::GetWindowRect(hwnd, &r);
  return r;
}

POINT Centre(const RECT& r) { return {(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

void ExpectCentredOn(const RECT& inner, const RECT& outer) {
  EXPECT_NEAR(Centre(inner).x, Centre(outer).x, 1);
  EXPECT_NEAR(Centre(inner).y, Centre(outer).y, 1);
}

}  // namespace

TEST(CDialog, BindsControlsAndRoutesCommandsByIdAndCode) {
  TableDialog dlg;
  HWND boundExit = nullptr;
  bool missingWindowless = false;
  LRESULT dragIcon = 0;
  INT_PTR result =
      modal::WithScript([&] { return dlg.DoModal(); },
                        [&] {
                          HWND h = dlg.m_hWnd;
                          boundExit = dlg.m_btnExit.m_hWnd;
                          missingWindowless = dlg.m_btnMissing.m_hWnd == nullptr;
                          struct Command {
                            WORD id, code;
                            LPARAM from;
                          } commands[] = {
                              {IDC_REFLASH, BN_CLICKED, 1},   // the button
                              {IDC_REFLASH, BN_SETFOCUS, 1},  // another notification: not routed
                              {IDC_SAVE_EEPROM, 0, 0},        // a menu command
                              {IDC_SAVE_EEPROM, 1, 0},        // an accelerator
                              {IDC_SAVE_EEPROM, 5, 1},        // a control's other notification
                              {1003, 0, 0},                   // an id without an entry
                          };
                          for (const Command& c : commands)
                            ::SendMessageW(h, WM_COMMAND, MAKEWPARAM(c.id, c.code), c.from);
                          dragIcon = ::SendMessageW(h, WM_QUERYDRAGICON, 0, 0);
                          ::SendMessageW(h, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
                        });
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(dlg.calls, (std::vector<std::string>{"init", "load", "click", "save command",
                                                 "save command", "save"}));
  EXPECT_NE(boundExit, nullptr);
  EXPECT_TRUE(missingWindowless);
  EXPECT_EQ(dragIcon, 0x1234);
  // The window is gone, and so are the bindings.
  EXPECT_EQ(dlg.m_hWnd, nullptr);
  EXPECT_EQ(dlg.m_btnExit.m_hWnd, nullptr);
  EXPECT_EQ(dlg.m_progress.m_hWnd, nullptr);
}

TEST(CDialog, EscapeAndTheCloseCommandCancel) {
  for (bool byKey : {true, false}) {
    TableDialog dlg;
    INT_PTR result = modal::WithScript(
        [&] { return dlg.DoModal(); },
        [&] {
          if (byKey) {
            HWND focus = ::GetFocus();
            ::PostMessageW(focus ? focus : dlg.m_hWnd, WM_KEYDOWN, VK_ESCAPE, 0);
          } else {
            ::PostMessageW(dlg.m_hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);  // handled, then default
          }
        });
    EXPECT_EQ(result, IDCANCEL) << (byKey ? "Esc" : "SC_CLOSE");
  }
}

TEST(CDialog, HandlerWithoutDefaultSwallowsTheMessage) {
  TableDialog dlg;
  dlg.defaultSysCommand = false;
  bool stillOpen = false;
  INT_PTR result = modal::WithScript([&] { return dlg.DoModal(); },
                                     [&] {
                                       ::SendMessageW(dlg.m_hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
                                       stillOpen =
                                           ::IsWindow(dlg.m_hWnd) && ::IsWindowVisible(dlg.m_hWnd);
                                       ::EndDialog(dlg.m_hWnd, 7);
                                     });
  EXPECT_TRUE(stillOpen);
  EXPECT_EQ(result, 7);
}

// A nested message's Default() belongs to that message alone: the outer
// minimise stays swallowed.
TEST(CDialog, DefaultOfANestedMessageDoesNotLeakOut) {
  TableDialog dlg;
  dlg.swallowId = SC_MINIMIZE;
  dlg.nestedId = 0x0020;  // no such command: its default does nothing
  bool minimised = true;
  modal::WithScript([&] { return dlg.DoModal(); },
                    [&] {
                      ::SendMessageW(dlg.m_hWnd, WM_SYSCOMMAND, SC_MINIMIZE, 0);
                      minimised = ::IsIconic(dlg.m_hWnd) != FALSE;
                      ::EndDialog(dlg.m_hWnd, IDOK);
                    });
  EXPECT_FALSE(minimised);
  EXPECT_EQ(dlg.calls[2], "syscommand " + std::to_string(SC_MINIMIZE));
  EXPECT_EQ(dlg.calls[3], "syscommand 32");
}

// A second template at 0, 0 is centred over the main window, its owner.
TEST(CDialog, SecondDialogIsOwnedByTheMainWindowAndCentredOverIt) {
  TableDialog main;
  theTestApp.m_pMainWnd = &main;
  RECT mainRect{}, aboutRect{};
  HWND mainHwnd = nullptr, aboutOwner = nullptr;
  bool mainDisabled = false;
  modal::WithScript([&] { return main.DoModal(); },
                    [&] {
                      mainHwnd = main.m_hWnd;
                      // Off-centre, so that "over the owner" differs from "on the screen"
                      // (and far enough from the edge that the wider box need not be pushed in).
                      ::SetWindowPos(mainHwnd, nullptr, 300, 250, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
                      mainRect = WindowRect(mainHwnd);
                      AboutBox about;
                      modal::Soon([&] {
                        aboutRect = WindowRect(about.m_hWnd);
                        aboutOwner = ::GetWindow(about.m_hWnd, GW_OWNER);
                        mainDisabled = !::IsWindowEnabled(mainHwnd);
                        about.EndDialog(IDOK);
                      });
                      about.DoModal();
                      main.EndDialog(IDOK);
                    });
  theTestApp.m_pMainWnd = nullptr;
  EXPECT_EQ(mainRect.left, 300);
  EXPECT_EQ(aboutOwner, mainHwnd);
  EXPECT_TRUE(mainDisabled);
  ExpectCentredOn(aboutRect, mainRect);
}

TEST(CDialog, MainDialogStartsCentredOnTheWorkArea) {
  TableDialog main;
  RECT rect{}, work{};
  modal::WithScript([&] { return main.DoModal(); },
                    [&] {
                      rect = WindowRect(main.m_hWnd);
                      MONITORINFO mi{};
                      mi.cbSize = sizeof mi;
                      ::GetMonitorInfoW(::MonitorFromWindow(main.m_hWnd, MONITOR_DEFAULTTONEAREST),
                                        &mi);
                      work = mi.rcWork;
                      main.EndDialog(IDOK);
                    });
  ExpectCentredOn(rect, work);
}

// ---- Common controls --------------------------------------------------------

namespace {

std::vector<INITCOMMONCONTROLSEX> g_registrations;
BOOL g_registrationResult = TRUE;

BOOL WINAPI RecordRegistration(const INITCOMMONCONTROLSEX* classes) {
  g_registrations.push_back(*classes);
  return g_registrationResult && ::InitCommonControlsEx(classes);
}

}  // namespace

// Version 5 of the library, which a program without a manifest gets, knows
// the progress class's flag; a newer flag may make it refuse the call.
TEST(CDialog, RegistersOnlyTheProgressClassBeforeEachDialog) {
  g_registrations.clear();
  g_registrationResult = TRUE;
  InitCommonControlsFunction previous = SetInitCommonControlsFunction(RecordRegistration);
  for (int round = 0; round < 2; ++round) {
    TableDialog dlg;
    INT_PTR result = modal::WithScript([&] { return dlg.DoModal(); }, [&] { dlg.EndDialog(IDOK); });
    EXPECT_EQ(result, IDOK);
  }
  SetInitCommonControlsFunction(previous);

  ASSERT_EQ(g_registrations.size(), 2u);
  for (const INITCOMMONCONTROLSEX& r : g_registrations) {
    EXPECT_EQ(r.dwSize, sizeof(INITCOMMONCONTROLSEX));
    EXPECT_EQ(r.dwICC, DWORD(ICC_PROGRESS_CLASS));
  }
}

// A dialog whose progress bar cannot be made would fail to open without a
// word: the user is told instead, over the owner the dialog would have had.
TEST(CDialog, UnregisteredProgressClassIsReportedAndNoDialogOpens) {
  g_registrations.clear();
  g_boxes.clear();
  g_registrationResult = FALSE;
  InitCommonControlsFunction previousInit = SetInitCommonControlsFunction(RecordRegistration);
  MessageBoxFunction previousBox = SetMessageBoxFunction(RecordBox);
  HWND owner = ::CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 nullptr, nullptr);
  CWnd parent;
  parent.Attach(owner);
  TableDialog dlg;
  CDialog about(IDD_ABOUT, &parent);
  // A dialog that opens all the same is ended by the watchdog, which fails the test.
  const INT_PTR mainResult = modal::WithScript([&] { return dlg.DoModal(); }, [] {}, 2000);
  const INT_PTR aboutResult = modal::WithScript([&] { return about.DoModal(); }, [] {}, 2000);
  SetMessageBoxFunction(previousBox);
  SetInitCommonControlsFunction(previousInit);
  g_registrationResult = TRUE;
  parent.Detach();
  ::DestroyWindow(owner);

  EXPECT_EQ(mainResult, -1);
  EXPECT_EQ(aboutResult, -1);
  EXPECT_TRUE(dlg.calls.empty()) << "the dialog was created";
  ASSERT_EQ(g_boxes.size(), 2u);
  EXPECT_EQ(g_boxes[0].owner, nullptr);
  EXPECT_EQ(g_boxes[1].owner, owner);
  for (const Box& b : g_boxes) {
    EXPECT_EQ(b.text,
              L"The progress bar control could not be registered, so the dialog cannot be shown.");
    EXPECT_EQ(b.caption, L"framework_tests");
    EXPECT_EQ(b.type, UINT(MB_ICONERROR | MB_OK));
  }
}

// ---- Start-up ---------------------------------------------------------------

namespace {

std::vector<std::string> g_startUp;
bool g_ghostingCallFound = true;

void WINAPI RecordDisableGhosting() { g_startUp.push_back("ghosting off"); }

FARPROC WINAPI FindGhostingCall(HMODULE module, LPCSTR name) {
  g_startUp.push_back(std::string(module == ::GetModuleHandleW(L"user32.dll") ? "user32" : "?") +
                      " " + name);
  return g_ghostingCallFound ? reinterpret_cast<FARPROC>(&RecordDisableGhosting) : nullptr;
}

}  // namespace

// Before the first window, so that a command that holds the thread for
// seconds never gets a ghost window; a system without the call still starts.
TEST(Start, TurnsOffWindowGhostingBeforeInitInstanceWhereTheSystemHasIt) {
  struct Case {
    bool found;
    std::vector<std::string> expected;
  } cases[] = {
      {true, {"user32 DisableProcessWindowsGhosting", "ghosting off", "InitInstance"}},
      {false, {"user32 DisableProcessWindowsGhosting", "InitInstance"}},
  };
  GetProcAddressFunction previous = SetGetProcAddressFunction(FindGhostingCall);
  theTestApp.onInitInstance = [] { g_startUp.push_back("InitInstance"); };
  for (const Case& c : cases) {
    g_startUp.clear();
    g_ghostingCallFound = c.found;
    EXPECT_EQ(AfxWinMain(), 0);
    EXPECT_EQ(g_startUp, c.expected);
  }
  theTestApp.onInitInstance = nullptr;
  SetGetProcAddressFunction(previous);
}
