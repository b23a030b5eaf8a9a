#include "framework/file_dialog.h"
#include "tests/framework/modal_script.h"

#include <gtest/gtest.h>

// The whole literal, embedded NULs included.
template <size_t N>
std::wstring Nul(const wchar_t (&text)[N]) {
  return std::wstring(text, N - 1);
}

TEST(FilterFromBars, BarsBecomeTheDoubleNulForm) {
  struct Case {
    const wchar_t* bars;
    std::wstring expected;
  } cases[] = {
      {L"EEPROM image (*.bin)|*.bin||", Nul(L"EEPROM image (*.bin)\0*.bin\0\0")},
      {L"A|*.a|B|*.b;*.c||", Nul(L"A\0*.a\0B\0*.b;*.c\0\0")},
      {L"A|*.a", Nul(L"A\0*.a\0\0")},  // the closing bars left out
      {L"", Nul(L"\0\0")},
  };
  for (const Case& c : cases) EXPECT_EQ(FilterFromBars(c.bars), c.expected) << c.bars;
}

namespace {

OPENFILENAMEW g_seen;
std::wstring g_seenFilter, g_seenDefExt, g_seenFile;
const wchar_t* g_answer = nullptr;  // null: the user cancels

BOOL WINAPI AnswerSaveAs(OPENFILENAMEW* ofn) {
  g_seen = *ofn;
  const wchar_t* f = ofn->lpstrFilter;
  while (*f) f += wcslen(f) + 1;  // up to the empty entry
  g_seenFilter.assign(ofn->lpstrFilter, f + 1);
  g_seenDefExt = ofn->lpstrDefExt ? ofn->lpstrDefExt : L"(null)";
  g_seenFile = ofn->lpstrFile;
  if (!g_answer) return FALSE;
  wcscpy(ofn->lpstrFile, g_answer);
  return TRUE;
}

}  // namespace

TEST(CFileDialog, FillsTheRequestOnceAndReturnsThePath) {
  CWnd owner;
  owner.Attach(::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 nullptr, nullptr));
  GetFileNameFunction previous = SetSaveFileNameFunction(AnswerSaveAs);
  CFileDialog dialog(FALSE, L"bin", nullptr, 0, L"EEPROM image (*.bin)|*.bin||", &owner);

  g_answer = L"C:\\images\\board.bin";
  EXPECT_EQ(dialog.DoModal(), IDOK);
  EXPECT_EQ(dialog.GetPathName(), L"C:\\images\\board.bin");
  EXPECT_EQ(g_seen.lStructSize, sizeof(OPENFILENAMEW));
  EXPECT_EQ(g_seen.hwndOwner, owner.m_hWnd);
  EXPECT_EQ(g_seenFilter, Nul(L"EEPROM image (*.bin)\0*.bin\0\0"));
  EXPECT_EQ(g_seen.nFilterIndex, 1u);
  EXPECT_EQ(g_seenDefExt, L"bin");
  EXPECT_EQ(g_seenFile, L"");   // no initial name
  EXPECT_EQ(g_seen.Flags, 0u);  // in particular no overwrite prompt
  EXPECT_EQ(g_seen.lpstrInitialDir, nullptr);
  EXPECT_EQ(g_seen.lpstrTitle, nullptr);
  EXPECT_GE(g_seen.nMaxFile, DWORD(MAX_PATH));

  g_answer = nullptr;
  CFileDialog cancelled(FALSE, L"bin", nullptr, 0, L"EEPROM image (*.bin)|*.bin||", &owner);
  EXPECT_EQ(cancelled.DoModal(), IDCANCEL);

  SetSaveFileNameFunction(previous);
  ::DestroyWindow(owner.Detach());
}

namespace {

// Answers as the platform does: a name that does not fit the buffer is
// refused (FNERR_BUFFERTOOSMALL), one that fits is copied whole.
std::wstring g_longAnswer;
BOOL WINAPI AnswerLongName(OPENFILENAMEW* ofn) {
  g_seenFile = ofn->lpstrFile;
  if (g_longAnswer.size() + 1 > ofn->nMaxFile) return FALSE;
  wcscpy(ofn->lpstrFile, g_longAnswer.c_str());
  return TRUE;
}

}  // namespace

// Paths of any length the system takes, as the initial name and as the answer.
TEST(CFileDialog, LongestPathIsNeitherCutNorRefused) {
  const std::wstring folder = L"\\\\?\\C:\\" + std::wstring(200, L'd') + L"\\";
  std::wstring longest = folder;
  while (longest.size() + 4 < CFileDialog::kMaxPath) longest += L'n';
  longest += L".bin";
  ASSERT_EQ(longest.size(), CFileDialog::kMaxPath);

  GetFileNameFunction previous = SetSaveFileNameFunction(AnswerLongName);
  for (const std::wstring& answer : {folder + std::wstring(5000, L'x') + L".bin", longest}) {
    g_longAnswer = answer;
    CFileDialog dialog(FALSE, L"bin", answer.c_str(), 0, L"EEPROM image (*.bin)|*.bin||");
    EXPECT_EQ(dialog.DoModal(), IDOK) << answer.size();
    // Compared whole, reported by length: the names are too long to print.
    EXPECT_TRUE(g_seenFile == answer)
        << "initial name: " << g_seenFile.size() << " of " << answer.size() << " characters";
    const std::wstring confirmed = dialog.GetPathName();
    EXPECT_TRUE(confirmed == answer)
        << "confirmed name: " << confirmed.size() << " of " << answer.size() << " characters";
  }
  // A name beyond what the system takes is cut to the buffer, never overflowing it.
  const std::wstring tooLong = longest + L"x";
  CFileDialog dialog(FALSE, L"bin", tooLong.c_str(), 0, L"EEPROM image (*.bin)|*.bin||");
  EXPECT_EQ(dialog.m_ofn.nMaxFile, CFileDialog::kMaxPath + 1);
  EXPECT_TRUE(std::wstring(dialog.m_ofn.lpstrFile) == longest);
  SetSaveFileNameFunction(previous);
}

// The platform's own dialog, answered through its controls.
TEST(CFileDialog, PlatformSaveAsAddsTheDefaultExtension) {
  wchar_t temp[MAX_PATH];
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring typed = std::wstring(temp) + L"typed_name";
  std::function<void()> answer = [&] {
    HWND dlg = modal::FindDialog(L"Save As");
    if (!dlg) {
      modal::Soon(answer, 50);
      return;
    }
    HWND name = ::GetDlgItem(dlg, 0x47C);
    HWND edit = ::FindWindowExW(name, nullptr, L"ComboBox", nullptr);
    edit = edit ? ::FindWindowExW(edit, nullptr, L"Edit", nullptr) : nullptr;
    ::SetWindowTextW(edit ? edit : name, typed.c_str());
    ::PostMessageW(dlg, WM_COMMAND, IDOK, 0);
  };
  CFileDialog dialog(FALSE, L"bin", nullptr, 0, L"EEPROM image (*.bin)|*.bin||");
  INT_PTR result = modal::WithScript([&] { return dialog.DoModal(); }, answer);
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(dialog.GetPathName(), typed + L".bin");
}
