#include "framework/file.h"

namespace {

WriteFileFunction g_writeFile = ::WriteFile;

}  // namespace

WriteFileFunction SetWriteFileFunction(WriteFileFunction fn) {
  WriteFileFunction previous = g_writeFile;
  g_writeFile = fn ? fn : ::WriteFile;
  return previous;
}

std::wstring FullPathName(const wchar_t* path) {
  const DWORD n = ::GetFullPathNameW(path, 0, nullptr, nullptr);
  std::wstring full(n, L'\0');
  full.resize(n ? ::GetFullPathNameW(path, n, &full[0], nullptr) : 0);
  return full.empty() ? path : full;
}

bool CFile::Open(const wchar_t* path, UINT flags) {
  Close();
  DWORD access = (flags & modeReadWrite) ? GENERIC_READ | GENERIC_WRITE
                 : (flags & modeWrite)   ? GENERIC_WRITE
                                         : GENERIC_READ;
  // Every mode is exclusive: nobody shares the file while it is open.
  DWORD disposition = (flags & modeCreateNew) ? CREATE_NEW
                      : (flags & modeCreate)  ? CREATE_ALWAYS
                                              : OPEN_EXISTING;
  m_hFile = ::CreateFileW(path, access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (m_hFile == INVALID_HANDLE_VALUE) {
    m_error = ::GetLastError();
    return false;
  }
  m_path = FullPathName(path);
  m_error = 0;
  return true;
}

bool CFile::Write(const void* data, DWORD count) {
  const auto* bytes = static_cast<const BYTE*>(data);
  while (count) {
    DWORD written = 0;
    if (!g_writeFile(m_hFile, bytes, count, &written, nullptr)) {
      m_error = ::GetLastError();
      return false;
    }
    if (!written) {  // no progress and no reason: do not spin
      m_error = ERROR_WRITE_FAULT;
      return false;
    }
    bytes += written;
    count -= written;
  }
  return true;
}

bool CFile::Close() {
  if (!IsOpen()) return true;
  bool ok = ::CloseHandle(m_hFile) != FALSE;
  if (!ok) m_error = ::GetLastError();
  m_hFile = INVALID_HANDLE_VALUE;
  return ok;
}

DWORD CFile::Remove(const wchar_t* path) { return ::DeleteFileW(path) ? 0 : ::GetLastError(); }

DWORD CFile::Replace(const wchar_t* from, const wchar_t* to) {
  return ::MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
             ? 0
             : ::GetLastError();
}
