#include "framework/file.h"
#include "tests/app/save_fixture.h"

namespace {

using savefixture::Bytes;
using savefixture::g_answer;
using savefixture::g_asked;
using savefixture::g_owner;

// Page writes from this one on fail as a full disk would.
int g_failWriteAt = 0;
int g_writes = 0;
BOOL WINAPI FullDiskWrite(HANDLE h, LPCVOID data, DWORD count, LPDWORD written, LPOVERLAPPED o) {
  if (++g_writes >= g_failWriteAt) {
    ::SetLastError(ERROR_DISK_FULL);
    return FALSE;
  }
  return ::WriteFile(h, data, count, written, o);
}

}  // namespace

void ExpectUnchanged(const View& before, const View& after) {
  EXPECT_EQ(after.status, before.status);
  EXPECT_EQ(after.high, before.high);
  EXPECT_EQ(after.pos, before.pos);
  EXPECT_EQ(after.exitEnabled, before.exitEnabled);
  EXPECT_EQ(after.reFlashEnabled, before.reFlashEnabled);
}

TEST_F(Save, CancelledSaveAsChangesNothing) {
  g_answer.clear();
  auto [before, after] = SaveOnce();
  EXPECT_EQ(g_asked, 1);
  ExpectUnchanged(before, after);
  EXPECT_EQ(NewTransfers(), 0u);
  EXPECT_TRUE(NewBoxes().empty());
  EXPECT_EQ(disk::Listing(folder), L"");
}

TEST_F(Save, PathThatCannotBeWrittenGetsOneBoxBeforeAnyTransfer) {
  struct Case {
    const char* name;
    std::function<void()> arrange;
  } cases[] = {
      {"missing folder", [&] { g_answer = folder + L"no such folder\\board.bin"; }},
      {"a folder of that name", [&] { ::CreateDirectoryW(target.c_str(), nullptr); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    disk::FreshFolder(L"app_save_test");
    ::RemoveDirectoryW(target.c_str());
    g_answer = target;
    c.arrange();
    auto [before, after] = SaveOnce();
    EXPECT_EQ(NewBoxes(), std::vector<std::wstring>{L"File can't be created"});
    ExpectUnchanged(before, after);
    EXPECT_EQ(NewTransfers(), 0u);
    EXPECT_EQ(disk::Listing(folder), L"");
  }
  ::RemoveDirectoryW(target.c_str());
}

// A file held open elsewhere without sharing cannot be replaced.
TEST_F(Save, FileInUseElsewhereCannotBeCreated) {
  disk::Put(target, "old image");
  HANDLE held = ::CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  auto [before, after] = SaveOnce();
  ::CloseHandle(held);
  EXPECT_EQ(NewBoxes(), std::vector<std::wstring>{L"File can't be created"});
  ExpectUnchanged(before, after);
  EXPECT_EQ(disk::Contents(target), "old image");
  EXPECT_EQ(disk::Listing(folder), L"board.bin");
}

TEST_F(Save, BoardDumpReplacesAnOldFileWithExactlyTheEepromAndRestoresTheButtons) {
  disk::Put(target, std::string(1000, 'x'));  // longer than the image
  auto [before, after] = SaveOnce();
  EXPECT_EQ(g_owner, shown);  // Save As is owned by the dialog
  EXPECT_EQ(disk::Contents(target), Bytes(bus.devices[BOARD_EEPROM_ADDRESS].memory));
  EXPECT_EQ(disk::Listing(folder), L"board.bin");  // no temporary file left
  EXPECT_TRUE(NewBoxes().empty());
  EXPECT_EQ(after.status, L"Board EEPROM content successfully stored to file!");
  EXPECT_EQ(after.low, 0);
  EXPECT_EQ(after.high, 256);
  EXPECT_EQ(after.pos, 256);
  // A dump unlocks nothing: Exit stays disabled as the verdict left it.
  EXPECT_FALSE(before.exitEnabled);
  EXPECT_FALSE(after.exitEnabled);
  EXPECT_TRUE(after.reFlashEnabled);
  EXPECT_EQ(dlg->m_wSubSystemID, SUBSYSTEM_ID_REFLASH);
}

// A chosen path longer than MAX_PATH, as Save As may confirm: the image
// lands there whole, and no temporary file stays beside it.
TEST_F(Save, PathLongerThanMaxPathGetsTheWholeImage) {
  std::wstring name = L"app_save_test", deep = folder;
  std::vector<std::wstring> made;
  while (deep.size() < 2 * MAX_PATH) {
    name += L"\\" + std::wstring(60, L'd');
    deep = disk::FreshFolder(name);
    made.push_back(deep);
  }
  g_answer = deep + L"board.bin";
  auto [before, after] = SaveOnce();
  EXPECT_TRUE(NewBoxes().empty()) << Narrow(NewBoxes().empty() ? L"" : NewBoxes()[0]);
  EXPECT_EQ(disk::Contents(g_answer), Bytes(bus.devices[BOARD_EEPROM_ADDRESS].memory));
  EXPECT_EQ(disk::Listing(deep), L"board.bin");
  EXPECT_EQ(after.status, L"Board EEPROM content successfully stored to file!");
  ::DeleteFileW(g_answer.c_str());
  for (auto it = made.rbegin(); it != made.rend(); ++it) ::RemoveDirectoryW(it->c_str());
}

// The identity read's box shows the dialog as the dump starts: the bar
// back at 0 of the board's size, every button disabled.
TEST_F(Save, FailedIdentityReadStillGivesACompleteImage) {
  auto [before, after] = SaveOnce([&](HWND h) {
    ::SendDlgItemMessageW(h, IDC_PROGRESS, PBM_SETPOS, 100, 0);
    FailTransferFromNow(1);
  });
  EXPECT_EQ(NewBoxes(), std::vector<std::wstring>{L"ReadEEPROM: I2C-read to Board EEPROM failed"});
  const View& during = Boxes().back().view;
  EXPECT_EQ(during.status, L"Reading from Board-EEPROM...");
  EXPECT_EQ(during.high, 256);
  EXPECT_EQ(during.pos, 0);
  EXPECT_FALSE(during.exitEnabled);
  EXPECT_FALSE(during.reFlashEnabled);
  EXPECT_EQ(disk::Contents(target), Bytes(bus.devices[BOARD_EEPROM_ADDRESS].memory));
  EXPECT_EQ(after.status, L"Board EEPROM content successfully stored to file!");
  EXPECT_EQ(dlg->m_wSubVendorID, 0);
  EXPECT_EQ(dlg->m_wSubSystemID, 0);
}

TEST_F(Save, FailedBoardDumpLeavesAnOldFileUntouchedAndNoTemporary) {
  disk::Put(target, "old image");
  auto [before, after] = SaveOnce([&](HWND) { FailTransferFromNow(1 + 5); });  // 5th chunk
  EXPECT_EQ(NewBoxes().size(), 1u);
  EXPECT_EQ(disk::Contents(target), "old image");
  EXPECT_EQ(disk::Listing(folder), L"board.bin");
  ExpectFailureShown(before, after, L"Reading out Board EEPROM content failed!!!");
}

TEST_F(Save, NoCardFailsBothOpeningsAndLeavesNoFile) {
  opener.failBoxes = {"Couldn't find AnalogCaptureFilter!"};
  auto [before, after] = SaveOnce([&](HWND) { opener.fail = true; });
  EXPECT_EQ(NewBoxes(), (std::vector<std::wstring>{L"Couldn't find AnalogCaptureFilter!",
                                                   L"Couldn't find AnalogCaptureFilter!"}));
  EXPECT_EQ(disk::Listing(folder), L"");
  ExpectFailureShown(before, after, L"Reading out Board EEPROM content failed!!!");
}

TEST_F(Save, FailedBoardFileWriteIsReportedWithTheSystemsReason) {
  disk::Put(target, "old image");
  g_writes = 0;
  g_failWriteAt = 1;
  SetWriteFileFunction(FullDiskWrite);
  auto [before, after] = SaveOnce();
  SetWriteFileFunction(nullptr);
  ASSERT_EQ(NewBoxes().size(), 1u);
  EXPECT_EQ(NewBoxes()[0],
            L"Writing the image file failed: " + target + L": " + SystemErrorText(ERROR_DISK_FULL));
  EXPECT_EQ(disk::Contents(target), "old image");
  EXPECT_EQ(disk::Listing(folder), L"board.bin");
  ExpectFailureShown(before, after, L"Reading out Board EEPROM content failed!!!");
}

// Another program opens the chosen file while the dump runs, sharing
// reading and writing but not its removal: the final step fails.
TEST_F(Save, FailedReplaceKeepsTheOldFile) {
  disk::Put(target, "old image");
  HANDLE held = INVALID_HANDLE_VALUE;
  auto [before, after] = SaveOnce([&](HWND) {
    bus.fault = [&](size_t, const Transfer&) {
      if (held == INVALID_HANDLE_VALUE)
        held = ::CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
      return S_OK;
    };
  });
  ::CloseHandle(held);
  ASSERT_EQ(NewBoxes().size(), 1u);
  EXPECT_EQ(NewBoxes()[0].rfind(L"Putting the image in place of " + target + L" failed: ", 0), 0u)
      << Narrow(NewBoxes()[0]);
  EXPECT_EQ(disk::Contents(target), "old image");
  EXPECT_EQ(disk::Listing(folder), L"board.bin");
  ExpectFailureShown(before, after, L"Reading out Board EEPROM content failed!!!");
}

TEST_F(Save, DspSelectionDumpsTheWholeDspEeprom) {
  auto [before, after] = SaveOnce([&](HWND h) { ChooseDsp(h); });
  dlg->m_cbSource.Detach();
  EXPECT_EQ(disk::Contents(target), Bytes(bus.devices[DSP_EEPROM_ADDRESS].memory));
  EXPECT_EQ(disk::Listing(folder), L"board.bin");
  EXPECT_TRUE(NewBoxes().empty());
  EXPECT_EQ(after.status, L"DSP EEPROM content successfully stored to file!");
  EXPECT_EQ(after.high, 32768);
  EXPECT_EQ(after.pos, 32768);
  EXPECT_FALSE(after.exitEnabled);
  EXPECT_TRUE(after.reFlashEnabled);
  EXPECT_TRUE(DecoderRestored());
}

TEST_F(Save, FailedDspReadLeavesNoFile) {
  auto [before, after] = SaveOnce([&](HWND h) {
    ChooseDsp(h);
    bus.fault = [&](size_t, const Transfer& t) {
      return t.device == DSP_EEPROM_ADDRESS && t.subAddress[0] == 0x20 ? E_FAIL : S_OK;
    };
  });
  dlg->m_cbSource.Detach();
  EXPECT_EQ(NewBoxes().size(), 1u);
  EXPECT_EQ(disk::Listing(folder), L"");
  ExpectFailureShown(before, after, L"Reading out DSP EEPROM content failed!!!");
  EXPECT_TRUE(DecoderRestored());
}

TEST_F(Save, DspFileWriteFailingPartWayClosesTheGateAndLeavesNoFile) {
  g_writes = 0;
  g_failWriteAt = 10;
  SetWriteFileFunction(FullDiskWrite);
  auto [before, after] = SaveOnce([&](HWND h) { ChooseDsp(h); });
  SetWriteFileFunction(nullptr);
  dlg->m_cbSource.Detach();
  ASSERT_EQ(NewBoxes().size(), 1u);
  EXPECT_NE(NewBoxes()[0].find(target + L": " + SystemErrorText(ERROR_DISK_FULL)),
            std::wstring::npos)
      << Narrow(NewBoxes()[0]);
  EXPECT_EQ(disk::Listing(folder), L"");
  ExpectFailureShown(before, after, L"Reading out DSP EEPROM content failed!!!");
  EXPECT_TRUE(DecoderRestored());
}
