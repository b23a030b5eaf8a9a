// Small file helpers for tests, over Win32 so that wide paths just work.
#pragma once

#include <windows.h>

#include <string>

namespace disk {

inline std::string Contents(const std::wstring& path) {
  HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "(missing)";
  std::string bytes;
  char buffer[4096];
  DWORD n = 0;
  while (::ReadFile(h, buffer, sizeof buffer, &n, nullptr) && n) bytes.append(buffer, n);
  ::CloseHandle(h);
  return bytes;
}

inline void Put(const std::wstring& path, const std::string& bytes) {
  HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD n = 0;
  ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
  ::CloseHandle(h);
}

inline bool Exists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A fresh, empty folder under the temporary folder, with a trailing backslash.
inline std::wstring FreshFolder(const std::wstring& name) {
  wchar_t base[MAX_PATH];
  ::GetTempPathW(MAX_PATH, base);
  std::wstring dir = std::wstring(base) + name + L"\\";
  WIN32_FIND_DATAW found;
  HANDLE h = ::FindFirstFileW((dir + L"*").c_str(), &found);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      std::wstring file = dir + found.cFileName;
      ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
      ::DeleteFileW(file.c_str());
    } while (::FindNextFileW(h, &found));
    ::FindClose(h);
  }
  ::CreateDirectoryW(dir.c_str(), nullptr);
  return dir;
}

// The names of the files in `dir`.
inline std::wstring Listing(const std::wstring& dir) {
  std::wstring names;
  WIN32_FIND_DATAW found;
  HANDLE h = ::FindFirstFileW((dir + L"*").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    if (!names.empty()) names += L" ";
    names += found.cFileName;
  } while (::FindNextFileW(h, &found));
  ::FindClose(h);
  return names;
}

}  // namespace disk
