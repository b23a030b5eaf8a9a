// What both test programs need around the simulated card: paths, its
// files, its transfer log and its registry entries.
#pragma once

#include "testing/simcard/card.h"
#include "testing/simcard/registry.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace e2e {

// A path of the build tree (/work/...) as the Wine programs see it.
inline std::wstring WindowsPath(const char* unixPath) {
  std::wstring w = L"Z:";
  for (const char* p = unixPath; *p; ++p) w += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
  return w;
}

// A fresh directory of this name under the temporary folder, with a
// trailing backslash.
inline std::wstring ScratchDir(const std::string& name) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  std::wstring dir = std::wstring(temp) + L"simcard-e2e\\";
  CreateDirectoryW(dir.c_str(), nullptr);
  for (char c : name) dir += static_cast<wchar_t>(c == '/' ? '-' : c);
  dir += L'\\';
  CreateDirectoryW(dir.c_str(), nullptr);
  return dir;
}

inline bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline std::vector<BYTE> ReadBytes(const std::wstring& path) {
  std::vector<BYTE> bytes;
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return bytes;
  BYTE chunk[4096];
  DWORD got = 0;
  while (ReadFile(f, chunk, sizeof chunk, &got, nullptr) && got > 0)
    bytes.insert(bytes.end(), chunk, chunk + got);
  CloseHandle(f);
  return bytes;
}

inline bool WriteText(const std::wstring& path, const std::string& text) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(f);
  return written == text.size();
}

// One transfer line of transfers.log.
struct LogEntry {
  long long at = 0;  // microseconds
  unsigned long number = 0;
  bool write = false;
  int device = 0;
  std::vector<int> sub;
  unsigned length = 0;
  std::vector<int> data;
  unsigned long hr = 0;
};

inline std::vector<int> HexBytes(const std::string& text) {
  std::vector<int> out;
  std::istringstream in(text);
  std::string b;
  while (in >> b) out.push_back(static_cast<int>(std::strtol(b.c_str(), nullptr, 16)));
  return out;
}

inline std::vector<LogEntry> ReadLog(const std::wstring& dir) {
  const std::vector<BYTE> raw = ReadBytes(dir + L"transfers.log");
  std::istringstream lines(std::string(raw.begin(), raw.end()));
  std::vector<LogEntry> entries;
  std::string line;
  while (std::getline(lines, line)) {
    LogEntry e;
    char dir_ = 0;
    int used = 0;
    if (std::sscanf(line.c_str(), "%lld %lu %c %x sub=[%n", &e.at, &e.number, &dir_, &e.device,
                    &used) != 4 ||
        (dir_ != 'R' && dir_ != 'W'))
      continue;
    e.write = dir_ == 'W';
    const std::string rest = line.substr(used);
    const auto close = rest.find(']');
    e.sub = HexBytes(rest.substr(0, close));
    const auto len = rest.find("len=");
    e.length = static_cast<unsigned>(std::strtoul(rest.c_str() + len + 4, nullptr, 10));
    const auto data = rest.find("data=[");
    const auto dataEnd = rest.find(']', data);
    e.data = HexBytes(rest.substr(data + 6, dataEnd - data - 6));
    e.hr = std::strtoul(rest.c_str() + rest.find("hr=") + 3, nullptr, 16);
    entries.push_back(e);
  }
  return entries;
}

// The card's entries in the registry for the life of a test program,
// removed at its end so that the prefix's capture category is left as found
// for the other test programs.
class CardRegistration : public ::testing::Environment {
 public:
  explicit CardRegistration(const char* dllUnixPath) : m_dll(WindowsPath(dllUnixPath)) {}
  void SetUp() override {
    ASSERT_TRUE(simcard::RegisterServer(m_dll) &&
                simcard::AddDevice(simcard::CLSID_SIMCARD_TEXT, simcard::CARD_FILTER_NAME))
        << "could not register the simulated card";
  }
  void TearDown() override {
    simcard::RemoveDevice(simcard::CLSID_SIMCARD_TEXT);
    simcard::UnregisterServer();
  }

 private:
  std::wstring m_dll;
};

}  // namespace e2e
