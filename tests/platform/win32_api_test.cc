// The Windows services as the program relies on them, on every platform:
// the real API on Windows, the POSIX layer elsewhere.
#include "platform/win32.h"

#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "test_util.h"

namespace {

TEST(Win32Files, ShareModeZeroKeepsAWriterAlone) {
  ScopedTempDir temp;
  WriteTextFile("f", "abc");
  HANDLE reader = OpenHandle("f", GENERIC_READ, OPEN_EXISTING);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenHandle("f", GENERIC_WRITE, OPEN_ALWAYS), INVALID_HANDLE_VALUE);
  CloseHandle(reader);
  HANDLE writer = OpenHandle("f", GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenHandle("f", GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenHandle("f", GENERIC_WRITE, OPEN_ALWAYS), INVALID_HANDLE_VALUE);
  CloseHandle(writer);
  reader = OpenHandle("f", GENERIC_READ, OPEN_EXISTING);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE);
  CloseHandle(reader);
}

TEST(Win32Files, ReadWriteSeekAndCut) {
  ScopedTempDir temp;
  HANDLE file = OpenHandle("f", GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD done = 0;
  ASSERT_TRUE(WriteFile(file, "hello world", 11, &done, nullptr));
  EXPECT_EQ(done, 11u);
  DWORD high = 7;
  EXPECT_EQ(GetFileSize(file, &high), 11u);
  EXPECT_EQ(high, 0u);
  LONG back = -1;
  EXPECT_EQ(SetFilePointer(file, -6, &back, FILE_END), 5u);
  EXPECT_EQ(back, 0);
  ASSERT_TRUE(SetEndOfFile(file));
  EXPECT_EQ(GetFileSize(file, nullptr), 5u);
  EXPECT_EQ(SetFilePointer(file, 1, nullptr, FILE_BEGIN), 1u);
  char buffer[16] = {};
  ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &done, nullptr));
  EXPECT_EQ(std::string(buffer, done), "ello");
  // At the end a read succeeds with nothing.
  ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &done, nullptr));
  EXPECT_EQ(done, 0u);
  EXPECT_TRUE(CloseHandle(file));
}

// Sizes and positions past 4 GiB travel in the high words (the file is
// sparse where the file system allows).
TEST(Win32Files, SizesAndPositionsPastFourGiB) {
  ScopedTempDir temp;
  HANDLE file = OpenHandle("big", GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  LONG high = 1;
  EXPECT_EQ(SetFilePointer(file, 2, &high, FILE_BEGIN), 2u);
  EXPECT_EQ(high, 1);
  ASSERT_TRUE(SetEndOfFile(file));
  DWORD size_high = 0;
  EXPECT_EQ(GetFileSize(file, &size_high), 2u);
  EXPECT_EQ(size_high, 1u);
  LONG back = -1;
  EXPECT_EQ(SetFilePointer(file, -3, &back, FILE_END), 0xFFFFFFFFu);
  EXPECT_EQ(back, 0);
  CloseHandle(file);
  WIN32_FIND_DATAA entry;
  HANDLE find =
      FindFirstFileExA("*.*", FindExInfoStandard, &entry, FindExSearchNameMatch, nullptr, 0);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  while (std::strcmp(entry.cFileName, "big") != 0 && FindNextFileA(find, &entry)) {
  }
  FindClose(find);
  EXPECT_STREQ(entry.cFileName, "big");
  EXPECT_EQ(entry.nFileSizeHigh, 1u);
  EXPECT_EQ(entry.nFileSizeLow, 2u);
}

TEST(Win32Files, OpensFilesButNotDirectories) {
  ScopedTempDir temp;
  MakeDirectory("dir");
  EXPECT_EQ(OpenHandle("dir", GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenHandle("dir", GENERIC_WRITE, OPEN_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenHandle("missing", GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(std::filesystem::exists("missing"));
  HANDLE created = OpenHandle(".\\dir\\new", GENERIC_WRITE, OPEN_ALWAYS);
  EXPECT_NE(created, INVALID_HANDLE_VALUE);
  CloseHandle(created);
  EXPECT_TRUE(std::filesystem::exists("dir/new"));
}

TEST(Win32Find, ListsEveryEntryWithTheDots) {
  ScopedTempDir temp;
  MakeDirectory("d/sub");
  WriteTextFile("d/.dot", "12345");
  WriteTextFile("d/noext", "");
  const FoundEntries found = FindEntries(".\\d\\*.*");
  EXPECT_EQ(found.directories, (std::set<std::string>{".:0", "..:0", "sub:0"}));
  EXPECT_EQ(found.files, (std::set<std::string>{".dot:5", "noext:0"}));
  WIN32_FIND_DATAA entry;
  EXPECT_EQ(FindFirstFileExA("missing\\*.*", FindExInfoStandard, &entry, FindExSearchNameMatch,
                             nullptr, 0),
            INVALID_HANDLE_VALUE);
}

TEST(Win32Directories, CurrentDirectoryRoundTrip) {
  ScopedTempDir temp;
  MakeDirectory("sub/deeper");
  char saved[MAX_PATH];
  const DWORD length = GetCurrentDirectoryA(MAX_PATH, saved);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(GetCurrentDirectoryA(2, saved + 0), length + 1);
  ASSERT_EQ(GetCurrentDirectoryA(MAX_PATH, saved), length);
  EXPECT_TRUE(SetCurrentDirectoryA(".\\sub\\deeper"));
  EXPECT_EQ(std::filesystem::current_path().filename(), "deeper");
  EXPECT_FALSE(SetCurrentDirectoryA("missing"));
  EXPECT_TRUE(SetCurrentDirectoryA(saved));
  EXPECT_EQ(std::filesystem::current_path().string(), saved);
}

// The name fits, its full path does not: no path comes back. The POSIX layer
// gives the size needed, Wine fails with 0. The program takes
// either as "use StartDir as typed".
TEST(Win32Directories, FullPathTooLongForTheBufferIsNotGiven) {
  ScopedTempDir temp;
  const std::string cwd = FullPathOf(".");
  ASSERT_FALSE(cwd.empty());
  const std::string long_name(250, 'n');
  char buffer[MAX_PATH];
  const DWORD length = GetFullPathNameA(long_name.c_str(), MAX_PATH, buffer, nullptr);
  EXPECT_TRUE(length == 0 || length == cwd.size() + 1 + 250 + 1) << length;
}

TEST(Win32Shell, PathAddBackslashAndStrTrim) {
  char path[MAX_PATH] = ".";
  EXPECT_EQ(PathAddBackslashA(path), path + 2);
  EXPECT_STREQ(path, ".\\");
  PathAddBackslashA(path);
  EXPECT_STREQ(path, ".\\");
  std::memset(path, 'x', MAX_PATH - 2);
  path[MAX_PATH - 2] = '\0';
  EXPECT_EQ(PathAddBackslashA(path), path + MAX_PATH - 1);
  EXPECT_EQ(path[MAX_PATH - 2], '\\');

  char text[64] = "  12 name 34  ";
  EXPECT_TRUE(StrTrimA(text, " "));
  EXPECT_STREQ(text, "12 name 34");
  EXPECT_TRUE(StrTrimA(text, "0123456789 "));
  EXPECT_STREQ(text, "name");
  EXPECT_FALSE(StrTrimA(text, " "));
  std::strcpy(text, "   ");
  EXPECT_TRUE(StrTrimA(text, " "));
  EXPECT_STREQ(text, "");
}

}  // namespace
