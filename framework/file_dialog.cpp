#include "framework/file_dialog.h"

#include "framework/app.h"

#include <cwchar>

namespace {

GetFileNameFunction g_getSaveFileName = ::GetSaveFileNameW;

}  // namespace

GetFileNameFunction SetSaveFileNameFunction(GetFileNameFunction fn) {
  GetFileNameFunction previous = g_getSaveFileName;
  g_getSaveFileName = fn ? fn : ::GetSaveFileNameW;
  return previous;
}

std::wstring FilterFromBars(const wchar_t* filter) {
  std::wstring out = filter ? filter : L"";
  for (wchar_t& c : out)
    if (c == L'|') c = L'\0';
  // The list ends with an empty entry, whether or not the text says so.
  while (out.size() < 2 || out[out.size() - 1] || out[out.size() - 2]) out += L'\0';
  return out;
}

CFileDialog::CFileDialog(BOOL openFileDialog, const wchar_t* defExt, const wchar_t* fileName,
                         DWORD flags, const wchar_t* filter, CWnd* parent)
    : m_open(openFileDialog),
      m_parent(parent),
      m_defExt(defExt ? defExt : L""),
      m_file(kMaxPath + 1, L'\0') {
  if (fileName) std::wcsncpy(m_file.data(), fileName, kMaxPath);
  if (filter) m_filter = FilterFromBars(filter);
  m_ofn.lStructSize = sizeof m_ofn;
  m_ofn.hInstance = AfxGetInstanceHandle();
  m_ofn.lpstrFilter = filter ? m_filter.c_str() : nullptr;
  m_ofn.nFilterIndex = 1;
  m_ofn.lpstrFile = m_file.data();
  m_ofn.nMaxFile = static_cast<DWORD>(m_file.size());
  m_ofn.lpstrDefExt = defExt ? m_defExt.c_str() : nullptr;
  m_ofn.Flags = flags;
}

INT_PTR CFileDialog::DoModal() {
  HWND owner = m_parent ? m_parent->m_hWnd : nullptr;
  if (!owner && AfxGetMainWnd()) owner = AfxGetMainWnd()->m_hWnd;
  m_ofn.hwndOwner = owner;
  BOOL ok = m_open ? ::GetOpenFileNameW(&m_ofn) : g_getSaveFileName(&m_ofn);
  return ok ? IDOK : IDCANCEL;
}
