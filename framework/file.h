// A file handle with all-or-nothing writes. Failures return false and keep
// the system's error code for the message that reports them.
#pragma once

#include <windows.h>

#include <string>

// `path` made absolute, of any length; `path` itself if that fails.
std::wstring FullPathName(const wchar_t* path);

// The call that writes to a file; tests replace it to make writes fail.
using WriteFileFunction = BOOL(WINAPI*)(HANDLE file, LPCVOID data, DWORD count, LPDWORD written,
                                        LPOVERLAPPED overlapped);

// Installs `fn` (null: the platform's WriteFile); returns the previous one.
WriteFileFunction SetWriteFileFunction(WriteFileFunction fn);

class CFile {
 public:
  enum OpenFlags : UINT {
    modeRead = 0x0000,
    modeWrite = 0x0001,
    modeReadWrite = 0x0002,
    shareExclusive = 0x0010,
    modeCreate = 0x1000,     // create, or truncate what is there; without it the file must exist
    modeCreateNew = 0x2000,  // create; fails with ERROR_FILE_EXISTS where the name is taken
  };

  CFile() = default;
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;
  ~CFile() { Close(); }

  bool Open(const wchar_t* path, UINT flags);
  // Writes all `count` bytes, or returns false.
  bool Write(const void* data, DWORD count);
  // Closes the handle if one is open; false if closing failed.
  bool Close();

  bool IsOpen() const { return m_hFile != INVALID_HANDLE_VALUE; }
  // The full path the file was opened with.
  const std::wstring& GetFilePath() const { return m_path; }
  // The system's error code of the last failed operation.
  DWORD GetLastError() const { return m_error; }

  // Both return the system's error code, 0 on success.
  static DWORD Remove(const wchar_t* path);
  // Puts `from` in place of `to` in one step, replacing what `to` held.
  static DWORD Replace(const wchar_t* from, const wchar_t* to);

  HANDLE m_hFile = INVALID_HANDLE_VALUE;

 private:
  std::wstring m_path;
  DWORD m_error = 0;
};
