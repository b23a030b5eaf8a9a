#include "app/image_file.h"

#include "app/text.h"
#include "framework/wnd.h"

namespace {

// Can the chosen name be written? An existing file is opened for writing
// without truncating it; a new name is created and removed at once.
bool CanWrite(const std::wstring& path) {
  HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_NOT_FOUND)
    h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  ::CloseHandle(h);
  return true;
}

}  // namespace

bool ImageFile::Create(const std::wstring& path) {
  Discard();
  m_path = FullPathName(path.c_str());
  if (!CanWrite(m_path)) return false;

  // A name of our own beside the chosen one, of any length: GetTempFileName
  // wants a folder of at most MAX_PATH - 14 characters and a MAX_PATH buffer.
  const size_t slash = m_path.find_last_of(L"\\/");
  const std::wstring folder = slash == std::wstring::npos ? L".\\" : m_path.substr(0, slash + 1);
  static unsigned sequence = ::GetTickCount() ^ ::GetCurrentProcessId();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const unsigned number = ++sequence & 0xFFFF;
    std::wstring temp = folder + L"bfl";
    for (int shift = 12; shift >= 0; shift -= 4)
      temp += L"0123456789ABCDEF"[(number >> shift) & 0xF];
    temp += L".tmp";
    if (m_temp.Open(temp.c_str(),
                    CFile::modeCreateNew | CFile::modeReadWrite | CFile::shareExclusive)) {
      m_tempPath = temp;
      return true;
    }
    if (m_temp.GetLastError() != ERROR_FILE_EXISTS) break;
  }
  return false;
}

bool ImageFile::Write(const uint8_t* data, size_t length, std::string* reason) {
  if (m_temp.Write(data, static_cast<DWORD>(length))) return true;
  if (reason) *reason = Utf8FromWide(m_path + L": " + SystemErrorText(m_temp.GetLastError()));
  return false;
}

bool ImageFile::Commit(std::string* reason) {
  DWORD failure = 0;
  if (!::FlushFileBuffers(m_temp.m_hFile)) failure = ::GetLastError();
  if (!m_temp.Close() && !failure) failure = m_temp.GetLastError();
  if (!failure) failure = CFile::Replace(m_tempPath.c_str(), m_path.c_str());
  if (failure) {
    if (reason)
      *reason = Utf8FromWide(L"Putting the image in place of " + m_path + L" failed: " +
                             SystemErrorText(failure));
    return false;
  }
  m_tempPath.clear();
  return true;
}

void ImageFile::Discard() {
  m_temp.Close();
  if (!m_tempPath.empty()) CFile::Remove(m_tempPath.c_str());
  m_tempPath.clear();
}
