#include "framework/file.h"
#include "tests/framework/disk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::wstring TempDir() { return disk::FreshFolder(L"framework_file_test"); }

using disk::Contents;
using disk::Exists;
using disk::Put;

constexpr UINT kCreate = CFile::modeCreate | CFile::modeReadWrite | CFile::shareExclusive;

}  // namespace

TEST(CFile, CreateReplacesWritesAllAndKnowsItsFullPath) {
  const std::wstring path = TempDir() + L"a.bin";
  Put(path, "an older and longer content");
  CFile file;
  ASSERT_TRUE(file.Open(path.c_str(), kCreate));
  EXPECT_EQ(file.GetFilePath(), path);
  EXPECT_TRUE(file.Write("\x01\x02\x03", 3));
  EXPECT_TRUE(file.Close());
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(Contents(path), "\x01\x02\x03");
  EXPECT_EQ(CFile::Remove(path.c_str()), 0u);
  EXPECT_FALSE(Exists(path));
}

TEST(CFile, FailuresKeepTheSystemsReason) {
  const std::wstring dir = TempDir();
  CFile file;
  EXPECT_FALSE(file.Open((dir + L"no such folder\\a.bin").c_str(), kCreate));
  EXPECT_EQ(file.GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(CFile::Remove((dir + L"never made.bin").c_str()), DWORD(ERROR_FILE_NOT_FOUND));

  // Not shared while open.
  const std::wstring path = dir + L"held.bin";
  ASSERT_TRUE(file.Open(path.c_str(), kCreate));
  CFile second;
  EXPECT_FALSE(second.Open(path.c_str(), kCreate));
  EXPECT_EQ(second.GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
  file.Close();
  CFile::Remove(path.c_str());
}

TEST(CFile, OpenWithoutCreateNeedsAnExistingFileAndKeepsIt) {
  const std::wstring path = TempDir() + L"kept.bin";
  CFile::Remove(path.c_str());
  CFile file;
  EXPECT_FALSE(file.Open(path.c_str(), CFile::modeWrite | CFile::shareExclusive));
  EXPECT_EQ(file.GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
  Put(path, "keep");
  ASSERT_TRUE(file.Open(path.c_str(), CFile::modeWrite | CFile::shareExclusive));
  file.Close();
  EXPECT_EQ(Contents(path), "keep");
  CFile::Remove(path.c_str());
}

TEST(CFile, CreateNewRefusesATakenNameAndLeavesItsFile) {
  const std::wstring path = TempDir() + L"taken.bin";
  Put(path, "keep");
  CFile file;
  EXPECT_FALSE(file.Open(path.c_str(), CFile::modeCreateNew | CFile::modeReadWrite));
  EXPECT_EQ(file.GetLastError(), DWORD(ERROR_FILE_EXISTS));
  EXPECT_EQ(Contents(path), "keep");
  CFile::Remove(path.c_str());
  ASSERT_TRUE(file.Open(path.c_str(), CFile::modeCreateNew | CFile::modeReadWrite));
  EXPECT_TRUE(file.Write("new", 3));
  file.Close();
  EXPECT_EQ(Contents(path), "new");
  CFile::Remove(path.c_str());
}

TEST(CFile, ReplacePutsOneFileInPlaceOfAnother) {
  const std::wstring dir = TempDir();
  Put(dir + L"new.tmp", "new");
  Put(dir + L"old.bin", "old content");
  EXPECT_EQ(CFile::Replace((dir + L"new.tmp").c_str(), (dir + L"old.bin").c_str()), 0u);
  EXPECT_EQ(Contents(dir + L"old.bin"), "new");
  EXPECT_FALSE(Exists(dir + L"new.tmp"));
  EXPECT_NE(CFile::Replace((dir + L"new.tmp").c_str(), (dir + L"old.bin").c_str()), 0u);
  CFile::Remove((dir + L"old.bin").c_str());
}

namespace {

// Writes at most 5 bytes a call; fails once `g_budget` bytes have gone.
size_t g_budget = 0;
std::vector<DWORD> g_calls;
BOOL WINAPI StingyWrite(HANDLE h, LPCVOID data, DWORD count, LPDWORD written, LPOVERLAPPED o) {
  g_calls.push_back(count);
  if (g_budget == 0) {
    ::SetLastError(ERROR_DISK_FULL);
    return FALSE;
  }
  DWORD n = std::min<DWORD>({count, 5, static_cast<DWORD>(g_budget)});
  g_budget -= n;
  return ::WriteFile(h, data, n, written, o);
}

}  // namespace

TEST(CFile, WriteGoesOnAfterShortWritesAndStopsAtAFailure) {
  const std::wstring path = TempDir() + L"short.bin";
  CFile file;
  ASSERT_TRUE(file.Open(path.c_str(), kCreate));
  WriteFileFunction previous = SetWriteFileFunction(StingyWrite);

  g_budget = 100;
  g_calls.clear();
  EXPECT_TRUE(file.Write("0123456789AB", 12));
  EXPECT_EQ(g_calls, (std::vector<DWORD>{12, 7, 2}));

  g_budget = 3;
  EXPECT_FALSE(file.Write("xyzxyz", 6));
  EXPECT_EQ(file.GetLastError(), DWORD(ERROR_DISK_FULL));

  SetWriteFileFunction(previous);
  file.Close();
  EXPECT_EQ(Contents(path), "0123456789ABxyz");
  CFile::Remove(path.c_str());
}
