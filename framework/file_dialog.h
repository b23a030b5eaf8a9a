// The platform's Save As (or Open) dialog: an OPENFILENAMEW filled once.
#pragma once

#include "framework/wnd.h"

#include <commdlg.h>

#include <string>
#include <vector>

// "Text|*.ext||" as the platform wants it: "Text\0*.ext\0\0".
std::wstring FilterFromBars(const wchar_t* filter);

// The call that runs the dialog; tests replace it to answer for the user.
using GetFileNameFunction = BOOL(WINAPI*)(OPENFILENAMEW* ofn);

// Installs `fn` for save dialogs (null: GetSaveFileNameW); returns the previous one.
GetFileNameFunction SetSaveFileNameFunction(GetFileNameFunction fn);

class CFileDialog {
 public:
  // The longest path the system's file functions take, in characters.
  static constexpr size_t kMaxPath = 32767;

  CFileDialog(BOOL openFileDialog, const wchar_t* defExt = nullptr,
              const wchar_t* fileName = nullptr, DWORD flags = 0, const wchar_t* filter = nullptr,
              CWnd* parent = nullptr);
  CFileDialog(const CFileDialog&) = delete;
  CFileDialog& operator=(const CFileDialog&) = delete;

  // IDOK once the user confirmed a name; IDCANCEL otherwise, also when
  // the dialog could not be shown.
  INT_PTR DoModal();
  std::wstring GetPathName() const { return m_file.data(); }

  OPENFILENAMEW m_ofn{};

 private:
  BOOL m_open;
  CWnd* m_parent;
  std::wstring m_defExt;
  std::wstring m_filter;
  // Room for a path of kMaxPath characters and its terminator: the
  // platform never refuses a confirmed name as too long for the buffer,
  // and an initial name is never cut.
  std::vector<wchar_t> m_file;
};
